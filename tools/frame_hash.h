// Frame hashes and the hash files that hold a whole capture's worth of them:
// a comment line with the rate, a "sound HASH" line, then "FRAME T HASH" per
// frame, T the demo time as the show computed it.
#pragma once

#include "tools/frame_clock.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

// A hash of the colours of an RGBA frame; alpha is never seen and not hashed.
// bytes is a multiple of 8.
uint64_t frameHash(const unsigned char *rgba, size_t bytes);

// FNV-1a of any bytes: the soundtrack's hash.
uint64_t bytesHash(const void *data, size_t size);

// A hash as the 16 hex digits a hash file holds.
std::string hashText(uint64_t hash);

// A demo time as a hash file holds it: enough digits to give the float back.
std::string timeText(float t);

struct HashRecord {
    std::string t;
    uint64_t hash;
};

struct HashList {
    std::string sound; // hash of the wave image, as text
    std::map<long, HashRecord> frames;
};

// Reads a hash file; on failure says why in one line and returns false.
bool readHashes(const std::string &path, HashList *list);

// The first lines of a hash file made at rate, with the soundtrack's hash.
std::string hashFileHeader(FrameRate rate, const std::string &soundHash);

// One frame's line.
std::string hashLine(long frame, const std::string &t, uint64_t hash);
