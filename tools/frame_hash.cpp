#include "tools/frame_hash.h"

#include "platform/platform.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

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

bool readHashes(const std::string &path, HashList *list) {
    std::FILE *file = std::fopen(path.c_str(), "r");
    if (!file) {
        platformSay("cannot read %s: %s", path.c_str(), std::strerror(errno));
        return false;
    }
    char line[256];
    int number = 0;
    bool ok = true;
    while (ok && std::fgets(line, sizeof line, file)) {
        ++number;
        if (line[0] == '#' || line[0] == '\n')
            continue;
        char first[64], second[64], third[64];
        int fields = std::sscanf(line, "%63s %63s %63s", first, second, third);
        char *end = nullptr;
        if (fields == 2 && std::strcmp(first, "sound") == 0) {
            list->sound = second;
        } else if (fields == 2 &&
                   (std::strcmp(first, "size") == 0 || std::strcmp(first, "pad") == 0 ||
                    std::strcmp(first, "subframes") == 0)) {
            list->settings[first] = second;
        } else if (fields == 3) {
            long frame = std::strtol(first, &end, 10);
            ok = *end == '\0' && frame >= 0;
            uint64_t hash = std::strtoull(third, &end, 16);
            ok = ok && *end == '\0';
            list->frames[frame] = {second, hash};
        } else {
            ok = false;
        }
    }
    std::fclose(file);
    if (!ok)
        platformSay("%s:%d: not a frame hash line", path.c_str(), number);
    return ok;
}
