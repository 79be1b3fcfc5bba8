#include "tools/file_names.h"

#include "tools/decimal.h"

#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Links followed before giving up, as the kernel's own limit.
const int MAX_LINKS = 40;

std::set<int> startingDescriptors;
bool descriptorsNoted = false;

// The absolute name a path will have, its folder's links resolved.
std::string absoluteName(const std::string &path) {
    std::string folder = folderOf(path);
    char *real = realpath(folder.empty() ? "." : folder.c_str(), nullptr);
    if (!real)
        return path;
    std::string name = std::string(real) + "/" + baseOf(path);
    std::free(real);
    return name;
}

// What the link path holds, relative to path's folder; "" if it is no link.
std::string linkTarget(const std::string &path) {
    char target[PATH_MAX];
    ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
    if (n <= 0)
        return "";
    target[n] = '\0';
    return target[0] == '/' ? std::string(target) : folderOf(path) + target;
}

// True if folder, links resolved, is this process's (or one of its
// threads') descriptor folder in /proc.
bool isDescriptorFolder(const std::string &folder) {
    const std::string own = "/proc/" + std::to_string(getpid());
    return folder == own + "/fd" || (folder.compare(0, own.size() + 6, own + "/task/") == 0 &&
                                     folder.compare(folder.size() - 3, 3, "/fd") == 0);
}

} // namespace

std::string folderOf(const std::string &path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string baseOf(const std::string &path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void noteStartingDescriptors() {
    DIR *dir = opendir("/proc/self/fd");
    if (!dir)
        return;
    for (dirent *entry; (entry = readdir(dir));)
        if (isDecimal(entry->d_name, false) && std::atoi(entry->d_name) != dirfd(dir))
            startingDescriptors.insert(std::atoi(entry->d_name));
    closedir(dir);
    descriptorsNoted = true;
}

int namedDescriptor(const std::string &path) {
    std::string name = path;
    for (int hops = 0; hops <= MAX_LINKS && !name.empty(); ++hops) {
        std::string folder = folderOf(name), base = baseOf(name);
        char *real = realpath(folder.empty() ? "." : folder.c_str(), nullptr);
        if (!real)
            return -1;
        bool descriptors = isDescriptorFolder(real);
        std::free(real);
        if (descriptors && isDecimal(base.c_str(), false) && base.size() < 10) {
            int fd = std::atoi(base.c_str());
            return !descriptorsNoted || startingDescriptors.count(fd) ? fd : -2;
        }
        name = linkTarget(name);
    }
    return -1;
}

bool sameFile(const std::string &a, const std::string &b) {
    struct stat sa, sb;
    if (stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0)
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    std::string ends[2] = {a, b};
    for (std::string &name : ends)
        for (int hops = 0; hops < MAX_LINKS && !linkTarget(name).empty(); ++hops)
            name = linkTarget(name);
    return absoluteName(ends[0]) == absoluteName(ends[1]);
}
