// Files the capture tool writes appear complete under their final name or not
// at all: the bytes go to a hidden temporary file in the same folder, renamed
// into place once written.
#pragma once

#include <cstddef>
#include <string>

// A temporary file beside its target that removes itself unless committed.
class TempFile {
  public:
    TempFile() = default;
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;
    ~TempFile() { discard(); }

    // Creates ".NAME.XXXXXX" + suffix beside target with the mode a plain
    // create would give. False with errno set.
    bool create(const std::string &target, const char *suffix = "");

    int fd() const { return fd_; }
    const std::string &path() const { return temp_; }

    // Flushes it to the disk if sync, closes it and renames it over the
    // target. False with errno set; the temporary is gone either way.
    bool commit(bool sync);

    // Closes and removes the temporary, if there is one.
    void discard();

  private:
    std::string target_;
    std::string temp_;
    int fd_ = -1;
};

// Writes everything, retrying short writes and interruptions.
bool writeAll(int fd, const void *data, size_t size);

// The whole of data to path through a temporary file, flushed to the disk
// before the rename unless sync is false. False with errno set.
bool writeFileAtomically(const std::string &path, const void *data, size_t size, bool sync = true);

// "cannot write 'path': reason" as the program's one line on stderr.
void reportCannotWrite(const std::string &path, int error);
