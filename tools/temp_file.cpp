#include "tools/output_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

int createTempBeside(const std::string &path, const char *suffix, std::string *temp) {
    size_t slash = path.rfind('/');
    std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string pattern = folder + "." + base + ".XXXXXX" + suffix;
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = mkstemps(name.data(), (int)std::strlen(suffix));
    if (fd < 0)
        return -1;
    // mkstemps makes the file private; give it the mode a plain create would.
    mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    *temp = name.data();
    return fd;
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

bool commitTemp(int fd, const std::string &temp, const std::string &path, bool sync) {
    bool ok = !sync || fsync(fd) == 0;
    int error = errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && rename(temp.c_str(), path.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        unlink(temp.c_str());
        errno = error;
    }
    return ok;
}

bool writeFileAtomically(const std::string &path, const void *data, size_t size, bool sync) {
    std::string temp;
    int fd = createTempBeside(path, "", &temp);
    if (fd < 0)
        return false;
    if (!writeAll(fd, data, size)) {
        int error = errno;
        close(fd);
        unlink(temp.c_str());
        errno = error;
        return false;
    }
    return commitTemp(fd, temp, path, sync);
}

void reportCannotWrite(const std::string &path, int error) {
    std::fprintf(stderr, "pelmira-capture: cannot write '%s': %s\n", path.c_str(),
                 std::strerror(error));
}
