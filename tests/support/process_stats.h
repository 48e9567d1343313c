#pragma once
// What this process holds, read from /proc: for the checks that nothing is left open and that
// memory does not grow.
#include <dirent.h>

#include <fstream>
#include <string>

// Kilobytes of a "VmRSS:" or "VmHWM:" line of /proc/self/status; -1 when there is none.
inline long StatusKb(const char* field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(field, 0) == 0)
            return std::stol(line.substr(std::string(field).size()));
    }
    return -1;
}

// Open file descriptors of this process.
inline int OpenFdCount() {
    int n = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (const dirent* entry = readdir(dir))
            n += entry->d_name[0] != '.' ? 1 : 0;
        closedir(dir);
    }
    return n - 1;  // the directory being read
}
