// FNV-1a of any bytes: the soundtrack's hash in a hash file. Header-only so
// that the web build's test program, which links nothing of the capture
// tool, hashes exactly as the tool does.
#pragma once

#include <cstddef>
#include <cstdint>

inline uint64_t bytesHash(const void *data, size_t size) {
    const unsigned char *p = static_cast<const unsigned char *>(data);
    uint64_t h = 0xCBF29CE484222325ull;
    for (size_t i = 0; i < size; ++i) {
        h ^= p[i];
        h *= 0x100000001B3ull;
    }
    return h;
}
