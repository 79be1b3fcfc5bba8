#include "tools/temp_file.h"

#include "platform/platform.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

bool TempFile::create(const std::string &target, const char *suffix) {
    discard();
    size_t slash = target.rfind('/');
    std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string pattern = folder + "." + base + ".XXXXXX" + suffix;
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = mkstemps(name.data(), (int)std::strlen(suffix));
    if (fd < 0)
        return false;
    // mkstemps makes the file private; give it the mode a plain create would.
    mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    fd_ = fd;
    temp_ = name.data();
    target_ = target;
    return true;
}

bool TempFile::commit(bool sync) {
    bool ok = fd_ >= 0 && (!sync || fsync(fd_) == 0);
    int error = errno;
    if (fd_ >= 0 && close(fd_) != 0 && ok) {
        ok = false;
        error = errno;
    }
    fd_ = -1;
    if (ok && std::rename(temp_.c_str(), target_.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (ok)
        temp_.clear();
    discard();
    errno = error;
    return ok;
}

void TempFile::discard() {
    if (fd_ >= 0)
        close(fd_);
    fd_ = -1;
    if (!temp_.empty())
        unlink(temp_.c_str());
    temp_.clear();
}

bool writeAll(int fd, const void *data, size_t size) {
    const unsigned char *p = static_cast<const unsigned char *>(data);
    while (size > 0) {
        ssize_t written = write(fd, p, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += written;
        size -= (size_t)written;
    }
    return true;
}

bool writeFileAtomically(const std::string &path, const void *data, size_t size, bool sync) {
    TempFile file;
    if (!file.create(path))
        return false;
    if (!writeAll(file.fd(), data, size)) {
        int error = errno;
        file.discard();
        errno = error;
        return false;
    }
    return file.commit(sync);
}

void reportCannotWrite(const std::string &path, int error) {
    platformSay("cannot write '%s': %s", path.c_str(), std::strerror(error));
}
