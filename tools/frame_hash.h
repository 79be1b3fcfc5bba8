// Frame hashes and the hash files that hold a whole capture's worth of them:
// a comment line with the rate, the frames' settings where they are not the
// defaults ("size 1600x1200", "pad 1920x1080", "subframes 4"), a "sound HASH"
// line, then "FRAME T HASH" per frame, T the demo time as the show computed it.
#pragma once

#include "tools/bytes_hash.h"
#include "tools/frame_clock.h"
#include "tools/frame_format.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

// A hash of the colours of an RGBA frame; alpha is never seen and not hashed.
// bytes is a multiple of 8.
uint64_t frameHash(const unsigned char *rgba, size_t bytes);

// A hash as the 16 hex digits a hash file holds.
std::string hashText(uint64_t hash);

// A demo time as a hash file holds it: enough digits to give the float back.
std::string timeText(float t);

struct HashRecord {
    std::string t;
    uint64_t hash;
};

struct HashList {
    FrameRate rate = {0, 0};                     // from the first line; 0/0 if it has none
    std::string sound;                           // hash of the wave image, as text
    std::map<std::string, std::string> settings; // "size", "pad", "subframes" as written
    std::map<long, HashRecord> frames;
};

// Reads a hash file, which may be a pipe or a device; on failure says why in
// one line and returns false (silently on an end signal). Whatever path
// names, no more than a hash file's worth of it is read.
bool readHashes(const std::string &path, HashList *list);

// The first lines of a hash file made at rate in format, with the
// soundtrack's hash.
std::string hashFileHeader(FrameRate rate, const FrameFormat &format, const std::string &soundHash);

// How the rate and settings a hash file records (absent: the defaults)
// differ from rate and format, as one sentence naming the file; "" if they
// do not.
std::string settingsMismatch(const HashList &list, FrameRate rate, const FrameFormat &format,
                             const std::string &path);

// One frame's line.
std::string hashLine(long frame, const std::string &t, uint64_t hash);
