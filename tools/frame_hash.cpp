#include "tools/frame_hash.h"

#include "platform/platform.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

// The longest line a hash file holds is well under a hundred bytes, and the
// longest file, every frame at the highest rate, under two megabytes.
static const size_t MAX_LINE = 200;
static const long long MAX_FILE = 16 << 20;

static const char HEADER[] = "# pelmira-capture frame hashes at ";

static std::string rateText(FrameRate rate) {
    return std::to_string(rate.num) + "/" + std::to_string(rate.den);
}

uint64_t frameHash(const unsigned char *rgba, size_t bytes) {
    uint64_t h = 0x9E3779B97F4A7C15ull;
    const unsigned char *end = rgba + bytes;
    for (const unsigned char *p = rgba; p < end; p += 8) {
        uint64_t w;
        std::memcpy(&w, p, 8);
        w &= 0x00FFFFFF00FFFFFFull;
        h ^= w;
        h *= 0xFF51AFD7ED558CCDull;
        h ^= h >> 32;
    }
    return h;
}

std::string hashText(uint64_t hash) {
    char text[24];
    std::snprintf(text, sizeof text, "%016llx", (unsigned long long)hash);
    return text;
}

std::string timeText(float t) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", (double)t);
    return text;
}

namespace {

struct Setting {
    const char *name;
    std::string value, byDefault;
};

// The settings that change the frames, with the values that mean no change.
std::vector<Setting> settingsOf(const FrameFormat &f) {
    const FrameFormat plain;
    return {{"size", sizeText(f.width, f.height), sizeText(plain.width, plain.height)},
            {"pad", f.padded() ? sizeText(f.canvasWidth, f.canvasHeight) : "none", "none"},
            {"subframes", std::to_string(f.subframes), "1"}};
}

} // namespace

std::string hashFileHeader(FrameRate rate, const FrameFormat &format,
                           const std::string &soundHash) {
    std::string header = HEADER + rateText(rate) + " fps\n";
    for (const Setting &s : settingsOf(format))
        if (s.value != s.byDefault)
            header += std::string(s.name) + " " + s.value + "\n";
    return header + "sound " + soundHash + "\n";
}

std::string settingsMismatch(const HashList &list, FrameRate rate, const FrameFormat &format,
                             const std::string &path) {
    // 60/1 and 120/2 give the same frames; a file without its first line
    // gives no rate to hold to.
    const FrameRate &made = list.rate;
    if (made.num > 0 && made.num * rate.den != rate.num * made.den)
        return path + " was made with fps " + rateText(made) + ", not " + rateText(rate) +
               ": verify with the same --fps";
    for (const Setting &s : settingsOf(format)) {
        auto found = list.settings.find(s.name);
        const std::string &recorded = found == list.settings.end() ? s.byDefault : found->second;
        if (recorded != s.value)
            return path + " was made with " + s.name + " " + recorded + ", not " + s.value +
                   ": verify with the same --" + s.name;
    }
    return "";
}

std::string hashLine(long frame, const std::string &t, uint64_t hash) {
    return std::to_string(frame) + " " + t + " " + hashText(hash) + "\n";
}

namespace {

bool isHash(const std::string &text) {
    return text.size() == 16 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

// One line of a hash file into list; false if it is not one.
bool parseLine(const std::string &line, HashList *list) {
    std::istringstream fields(line);
    std::string first, second, third, extra;
    fields >> first >> second >> third >> extra;
    if (!extra.empty())
        return false;
    if (first == "sound" && third.empty() && isHash(second) && list->sound.empty()) {
        list->sound = second;
        return true;
    }
    if ((first == "size" || first == "pad" || first == "subframes") && third.empty() &&
        !second.empty() && !list->settings.count(first)) {
        list->settings[first] = second;
        return true;
    }
    char *end = nullptr;
    if (first.empty() || first.size() > 9 ||
        first.find_first_not_of("0123456789") != std::string::npos || !isHash(third))
        return false;
    std::strtof(second.c_str(), &end);
    long frame = std::atol(first.c_str());
    if (second.empty() || *end || list->frames.count(frame))
        return false;
    list->frames[frame] = {second, std::strtoull(third.c_str(), nullptr, 16)};
    return true;
}

} // namespace

namespace {

// The rate a hash file's first line gives, if it is that line.
void parseHeader(const std::string &line, HashList *list) {
    long num = 0, den = 0;
    int length = 0;
    if (line.compare(0, sizeof HEADER - 1, HEADER) == 0 &&
        std::sscanf(line.c_str() + sizeof HEADER - 1, "%ld/%ld fps%n", &num, &den, &length) == 2 &&
        line.size() == sizeof HEADER - 1 + (size_t)length && num > 0 && den > 0)
        list->rate = {num, den};
}

// Reads path's lines into list, waking for the end signals while a pipe or
// device has nothing to give. Returns "" or why not.
std::string readLines(int fd, const std::string &path, HashList *list) {
    std::string line;
    int number = 0;
    long long total = 0;
    char buffer[4096];
    for (bool end = false; !end;) {
        pollfd ready = {fd, POLLIN, 0};
        if (poll(&ready, 1, 100) <= 0) {
            if (platformEndSignal())
                return "interrupted";
            continue;
        }
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (n < 0)
            return std::string("cannot read ") + path + ": " + std::strerror(errno);
        if ((total += n) > MAX_FILE)
            return path + " is too large for a hash file";
        end = n == 0;
        for (ssize_t i = 0; i < n || (end && !line.empty() && i == n); ++i) {
            if (i < n && buffer[i] != '\n') {
                line += buffer[i];
                if (line.size() <= MAX_LINE)
                    continue;
            }
            ++number;
            if (number == 1 && line[0] == '#')
                parseHeader(line, list);
            if (line.size() > MAX_LINE ||
                (!line.empty() && line[0] != '#' && !parseLine(line, list)))
                return path + ":" + std::to_string(number) + ": not a frame hash line";
            line.clear();
        }
    }
    return "";
}

} // namespace

bool readHashes(const std::string &path, HashList *list) {
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat st;
    if (fd >= 0 && fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        close(fd);
        fd = -1;
        errno = EISDIR;
    }
    if (fd < 0) {
        platformSay("cannot read %s: %s", path.c_str(), std::strerror(errno));
        return false;
    }
    std::string why = readLines(fd, path, list);
    close(fd);
    if (why.empty() && list->frames.empty())
        why = path + " holds no frame hashes";
    if (!why.empty() && !platformEndSignal())
        platformSay("%s", why.c_str());
    return why.empty();
}
