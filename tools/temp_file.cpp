#include "tools/temp_file.h"

#include "platform/platform.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

// Read once, while the process still has one thread: asking changes it for a
// moment.
const mode_t processUmask = [] {
    mode_t mask = umask(0);
    umask(mask);
    return mask;
}();

std::string folderOf(const std::string &path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string baseOf(const std::string &path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Where the bytes for a device or a pipe wait until they are complete.
std::string scratchFolder() {
    const char *tmp = std::getenv("TMPDIR");
    return std::string(tmp && *tmp ? tmp : "/tmp") + "/";
}

// ".NAME.XXXXXX" + suffix, with NAME cut so that the temporary stays within
// the name limit wherever the target does.
std::string tempName(const std::string &base, const char *suffix) {
    std::string tail = std::string(".XXXXXX") + suffix;
    size_t room = NAME_MAX - 1 - tail.size();
    return "." + base.substr(0, room) + tail;
}

} // namespace

bool TempFile::create(const std::string &target, const char *suffix) {
    discard();
    inPlace_ = replacing_ = false;
    target_ = target;
    struct stat st, link;
    if (stat(target.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            errno = EISDIR;
            return false;
        }
        inPlace_ = !S_ISREG(st.st_mode);
        replacing_ = !inPlace_;
        old_ = st;
        if (inPlace_ && access(target.c_str(), W_OK) != 0)
            return false;
        if (replacing_ && lstat(target.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
            char *real = realpath(target.c_str(), nullptr);
            if (!real)
                return false;
            target_ = real;
            std::free(real);
        }
    } else if (errno != ENOENT) {
        return false;
    } else if (lstat(target.c_str(), &link) == 0) {
        inPlace_ = true; // a link to nothing yet: written through, as a plain write would
    }
    std::string folder = inPlace_ ? scratchFolder() : folderOf(target_);
    std::string pattern = folder + tempName(baseOf(target_), suffix);
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    // Private (0600) while it is written: the final mode is given at the commit,
    // so a strict umask cannot lock the encoder out of its own output.
    int fd = mkostemps(name.data(), (int)std::strlen(suffix), O_CLOEXEC);
    if (fd < 0)
        return false;
    fchmod(fd, 0600); // the umask has taken its share of mkostemps' 0600
    fd_ = fd;
    temp_ = name.data();
    return true;
}

bool TempFile::commitInPlace() {
    int out = open(target_.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (out < 0)
        return false;
    char buffer[1 << 16];
    bool ok = lseek(fd_, 0, SEEK_SET) == 0;
    while (ok) {
        ssize_t n = read(fd_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        ok = writeAll(out, buffer, (size_t)n);
    }
    int error = errno;
    if (close(out) != 0 && ok) {
        ok = false;
        error = errno;
    }
    errno = error;
    return ok;
}

bool TempFile::commit(bool sync) {
    if (fd_ < 0) {
        errno = EBADF;
        return false;
    }
    if (platformEndSignal()) {
        discard();
        errno = EINTR;
        return false;
    }
    bool ok;
    if (inPlace_) {
        ok = commitInPlace();
    } else {
        // Owner first: a change of owner clears the set-id bits the mode may hold.
        if (replacing_ && fchown(fd_, old_.st_uid, old_.st_gid) != 0)
            (void)!fchown(fd_, (uid_t)-1, old_.st_gid);
        mode_t mode = replacing_ ? old_.st_mode & 07777 : 0666 & ~processUmask;
        ok = fchmod(fd_, mode) == 0 && (!sync || fsync(fd_) == 0);
    }
    int error = errno;
    if (close(fd_) != 0 && ok) {
        ok = false;
        error = errno;
    }
    fd_ = -1;
    if (ok && !inPlace_ && std::rename(temp_.c_str(), target_.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (ok && !inPlace_)
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

// The absolute name a path will have, its folder's links resolved.
static std::string absoluteName(const std::string &path) {
    std::string folder = folderOf(path);
    char *real = realpath(folder.empty() ? "." : folder.c_str(), nullptr);
    if (!real)
        return path;
    std::string name = std::string(real) + "/" + baseOf(path);
    std::free(real);
    return name;
}

bool sameFile(const std::string &a, const std::string &b) {
    struct stat sa, sb;
    if (stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0)
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    return absoluteName(a) == absoluteName(b);
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
