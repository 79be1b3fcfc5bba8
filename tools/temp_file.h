// Files the capture tool writes appear complete under their final name or not
// at all: the bytes go to a temporary file in the same folder, renamed into
// place once written and flushed.
#pragma once

#include <cstddef>
#include <string>

// Creates a hidden temporary file beside path, ending in suffix, with the mode
// a plain create would give. Returns the descriptor, or -1 with errno set.
int createTempBeside(const std::string &path, const char *suffix, std::string *temp);

// Writes everything, retrying short writes and interruptions.
bool writeAll(int fd, const void *data, size_t size);

// Closes fd and renames temp to path, after flushing it to the disk if sync;
// on any failure removes temp and returns false with errno set.
bool commitTemp(int fd, const std::string &temp, const std::string &path, bool sync);

// The whole of data to path through a temporary file, flushed to the disk
// before the rename unless sync is false. False with errno set.
bool writeFileAtomically(const std::string &path, const void *data, size_t size, bool sync = true);

// "pelmira-capture: cannot write 'path': reason" on stderr.
void reportCannotWrite(const std::string &path, int error);
