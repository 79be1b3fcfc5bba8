// Files the capture tool writes appear complete under their final name or not
// at all: the bytes go to a hidden temporary file in the same folder, renamed
// into place once written. Only a regular file (or a name not yet taken) can
// be replaced that way: a device, a pipe or a link to one is written in place
// once the bytes are complete, and a link to a regular file is followed, so
// the link stays and its target is replaced. A name for one of the
// descriptors the program was started with (/dev/stdout, /dev/fd/3,
// /proc/self/fd/3) is written through that descriptor, at its offset, never
// replaced. Waits on a pipe (for a reader, for room) wake for the end signals.
#pragma once

#include "tools/file_names.h"

#include <cstddef>
#include <string>
#include <sys/stat.h>

class TempFile {
  public:
    TempFile() = default;
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;
    ~TempFile() { discard(); }

    // Claims target: makes the temporary the bytes go to, private to us
    // until the commit. False with errno set when target cannot be written
    // (a folder, a missing or read-only folder ...).
    bool create(const std::string &target, const char *suffix = "");

    int fd() const { return fd_; }
    const std::string &path() const { return temp_; }

    // Appends to the temporary. False with errno set.
    bool write(const void *data, size_t size);

    // Puts the bytes in place: a replaced file keeps its mode and, where
    // permitted, its owner; a new one gets the mode a plain create would.
    // Flushed to the disk first if sync. Refused (EINTR) once an end signal
    // has come. False with errno set; the temporary is gone either way.
    bool commit(bool sync);

    // Closes and removes the temporary, if there is one.
    void discard();

    // Says in one line why the last create, write or commit failed, naming
    // the target or, when the temporary was what failed, TMPDIR's folder.
    void report(int error) const;

  private:
    bool commitInPlace();
    bool fail(bool scratch);

    std::string name_;   // the target as given, for messages
    std::string target_; // where the bytes end up; links resolved
    std::string temp_;
    int fd_ = -1;
    bool inPlace_ = false; // target is a device, pipe or socket
    int descriptor_ = -1;  // the caller's descriptor target names, if any
    bool scratchFailed_ = false;
    bool replacing_ = false;
    struct stat old_ = {}; // the file replaced, if replacing_
};

// Writes everything, retrying short writes and interruptions.
bool writeAll(int fd, const void *data, size_t size);

// The whole of data to path through a temporary file, flushed to the disk
// before the rename unless sync is false. False once said why (or on an end
// signal).
bool writeFileAtomically(const std::string &path, const void *data, size_t size, bool sync = true);

// "cannot write 'path': reason" as the program's one line on stderr.
void reportCannotWrite(const std::string &path, int error);
