#include "tools/frame_hash.h"

#include "platform/platform.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <vector>

static const size_t MAX_LINE = 200;

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

uint64_t bytesHash(const void *data, size_t size) {
    const unsigned char *p = static_cast<const unsigned char *>(data);
    uint64_t h = 0xCBF29CE484222325ull;
    for (size_t i = 0; i < size; ++i) {
        h ^= p[i];
        h *= 0x100000001B3ull;
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
    std::string header = "# pelmira-capture frame hashes at " + std::to_string(rate.num) + "/" +
                         std::to_string(rate.den) + " fps\n";
    for (const Setting &s : settingsOf(format))
        if (s.value != s.byDefault)
            header += std::string(s.name) + " " + s.value + "\n";
    return header + "sound " + soundHash + "\n";
}

std::string settingsMismatch(const HashList &list, const FrameFormat &format,
                             const std::string &path) {
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

bool readHashes(const std::string &path, HashList *list) {
    std::ifstream file(path);
    struct stat st;
    if (!file || (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))) {
        platformSay("cannot read %s: %s", path.c_str(), std::strerror(file ? EISDIR : errno));
        return false;
    }
    std::string line;
    int number = 0;
    while (std::getline(file, line)) {
        ++number;
        // The longest line a hash file holds is well under a hundred bytes.
        if (line.size() > MAX_LINE || (!line.empty() && line[0] != '#' && !parseLine(line, list))) {
            platformSay("%s:%d: not a frame hash line", path.c_str(), number);
            return false;
        }
    }
    if (file.bad()) {
        platformSay("cannot read %s: %s", path.c_str(), std::strerror(errno));
        return false;
    }
    if (list->frames.empty()) {
        platformSay("%s holds no frame hashes", path.c_str());
        return false;
    }
    return true;
}
