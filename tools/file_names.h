// What a file name given on the command line leads to: the file at the end of
// its links (which need not exist yet), or one of the descriptors the program
// was started with.
#pragma once

#include <string>

// "dir/" and "name" of "dir/name"; "" and the whole for a bare name.
std::string folderOf(const std::string &path);
std::string baseOf(const std::string &path);

// Notes which descriptors the process was started with, so that a name for
// one it was not (/dev/stdout under >&-) is refused. Called first in main.
void noteStartingDescriptors();

// The descriptor path reaches through /dev/stdout, /dev/fd/N,
// /proc/self/fd/N and the links to them, or -1 if it names a file. A
// descriptor the process was not started with is -2.
int namedDescriptor(const std::string &path);

// True if a and b name the same file, existing or not: names that lead
// through links to a file not made yet count as that file.
bool sameFile(const std::string &a, const std::string &b);
