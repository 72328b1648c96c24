#include "platform/zkProcessFigures.h"

#include <cstdio>
#include <cstring>
#include <set>
#include <string>

int MappedLibraries(const char* when, bool list) {
    FILE* maps = std::fopen("/proc/self/maps", "re");
    if (!maps)
        return -1;
    std::set<std::string> paths;
    char line[4096];
    while (std::fgets(line, sizeof line, maps)) {
        const char* path = std::strchr(line, '/');
        if (!path || !std::strstr(path, ".so"))
            continue;
        std::string name(path);
        while (!name.empty() && (name.back() == '\n' || name.back() == ' '))
            name.pop_back();
        paths.insert(name);
    }
    std::fclose(maps);
    if (list)
        for (const std::string& name : paths)
            std::printf("library-at-%s %s\n", when, name.c_str());
    return int(paths.size());
}

long ResidentKiB(const char* field) {
    FILE* status = std::fopen("/proc/self/status", "re");
    if (!status)
        return -1;
    long kib = -1;
    char line[256];
    const size_t length = std::strlen(field);
    while (std::fgets(line, sizeof line, status))
        if (std::strncmp(line, field, length) == 0 && line[length] == ':' &&
            std::sscanf(line + length + 1, "%ld", &kib) == 1)
            break;
    std::fclose(status);
    return kib;
}
