// The driver-list rule every backend follows for a user's choice of drivers:
// a comma-separated list, read as SDL reads SDL_VIDEODRIVER and
// SDL_AUDIODRIVER, tried in order until one starts.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

// Tries the drivers the list names, in order, until tryOne(name) starts one.
// The list is taken whole however long it is: a cut list would try a driver
// the user did not name. tryOne keeps the first reason for failing in why; if
// it kept none, why says that the variable names no driver.
template <class Try>
bool tryListedDrivers(const char *list, const char *variable, Try tryOne, char *why, size_t size) {
    std::string rest = list;
    for (size_t start = 0; start <= rest.size();) {
        size_t comma = rest.find(',', start);
        if (comma == std::string::npos)
            comma = rest.size();
        std::string name = rest.substr(start, comma - start);
        if (!name.empty() && tryOne(name.c_str()))
            return true;
        start = comma + 1;
    }
    if (!why[0])
        std::snprintf(why, size, "%s names no driver", variable);
    return false;
}
