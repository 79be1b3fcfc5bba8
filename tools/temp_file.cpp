#include "tools/temp_file.h"

#include "platform/platform.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
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

// How often a wait on a pipe looks at the end signals.
const int POLL_MS = 100;

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

// Opens target to write in place, as a plain write would, truncated; for a
// pipe that waits for a reader, but not past an end signal.
int openInPlace(const std::string &target) {
    for (;;) {
        int fd = open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0666);
        struct stat st;
        if (fd >= 0 || errno != ENXIO || stat(target.c_str(), &st) != 0 || !S_ISFIFO(st.st_mode))
            return fd;
        if (platformEndSignal()) {
            errno = EINTR;
            return -1;
        }
        poll(nullptr, 0, POLL_MS);
    }
}

// writeAll for a pipe, device or socket whose reader may be slow or never
// read: a piece at a time, each once poll says it fits (a pipe takes
// PIPE_BUF bytes whole once it has room), so that no write blocks past an
// end signal. The descriptor may be the caller's, which must stay blocking.
bool writeWatching(int fd, const void *data, size_t size) {
    const char *p = static_cast<const char *>(data);
    while (size > 0) {
        if (platformEndSignal()) {
            errno = EINTR;
            return false;
        }
        pollfd ready = {fd, POLLOUT, 0};
        int found = poll(&ready, 1, POLL_MS);
        if (found < 0 && errno != EINTR)
            return false;
        if (found <= 0)
            continue;
        ssize_t n = ::write(fd, p, std::min(size, (size_t)PIPE_BUF));
        if (n < 0 && errno != EINTR && errno != EAGAIN)
            return false;
        if (n > 0) {
            p += n;
            size -= (size_t)n;
        }
    }
    return true;
}

} // namespace

bool TempFile::fail(bool scratch) {
    int error = errno;
    scratchFailed_ = scratch;
    errno = error;
    return false;
}

bool TempFile::create(const std::string &target, const char *suffix) {
    discard();
    inPlace_ = replacing_ = false;
    name_ = target_ = target;
    descriptor_ = namedDescriptor(target);
    struct stat st, link;
    if (descriptor_ != -1) {
        // Written through as it is: opened for writing, whatever it is.
        int flags = descriptor_ >= 0 ? fcntl(descriptor_, F_GETFL) : -1;
        if (flags == -1 || (flags & O_ACCMODE) == O_RDONLY) {
            errno = EBADF;
            return fail(false);
        }
        inPlace_ = true;
    } else if (stat(target.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            errno = EISDIR;
            return fail(false);
        }
        inPlace_ = !S_ISREG(st.st_mode);
        replacing_ = !inPlace_;
        old_ = st;
        if (inPlace_ && access(target.c_str(), W_OK) != 0)
            return fail(false);
        if (replacing_ && lstat(target.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
            char *real = realpath(target.c_str(), nullptr);
            if (!real)
                return fail(false);
            target_ = real;
            std::free(real);
        }
    } else if (errno != ENOENT) {
        return fail(false);
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
        return fail(inPlace_);
    fchmod(fd, 0600); // the umask has taken its share of mkostemps' 0600
    fd_ = fd;
    temp_ = name.data();
    return true;
}

bool TempFile::write(const void *data, size_t size) {
    return writeAll(fd_, data, size) || fail(inPlace_);
}

bool TempFile::commitInPlace() {
    int out = descriptor_ >= 0 ? descriptor_ : openInPlace(target_);
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
        ok = writeWatching(out, buffer, (size_t)n);
    }
    int error = errno;
    if (out != descriptor_ && close(out) != 0 && ok) {
        ok = false;
        error = errno;
    }
    errno = error;
    return ok;
}

bool TempFile::commit(bool sync) {
    scratchFailed_ = false;
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

void TempFile::report(int error) const {
    if (!scratchFailed_) {
        reportCannotWrite(name_, error);
        return;
    }
    std::string folder = scratchFolder();
    platformSay("cannot write the bytes for '%s' to TMPDIR's '%s': %s", name_.c_str(),
                folder.substr(0, folder.size() - 1).c_str(), std::strerror(error));
}

bool writeAll(int fd, const void *data, size_t size) {
    const unsigned char *p = static_cast<const unsigned char *>(data);
    while (size > 0) {
        ssize_t written = ::write(fd, p, size);
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
    if (file.create(path) && file.write(data, size) && file.commit(sync))
        return true;
    int error = errno;
    if (!platformEndSignal())
        file.report(error);
    return false;
}

void reportCannotWrite(const std::string &path, int error) {
    platformSay("cannot write '%s': %s", path.c_str(), std::strerror(error));
}
