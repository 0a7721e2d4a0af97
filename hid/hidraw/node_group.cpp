#include "hid/hidraw/node_group.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace quen::hid::hidraw {
namespace {

bool InGroup(gid_t gid) {
    if (getegid() == gid) {
        return true;
    }
    gid_t groups[256];
    const int count = getgroups(static_cast<int>(sizeof groups / sizeof groups[0]), groups);
    for (int i = 0; i < count; ++i) {
        if (groups[i] == gid) {
            return true;
        }
    }
    // More groups than fit: no claim that the user lacks this one.
    return count < 0;
}

// The group's name from /etc/group ("name:password:gid:members"), read directly: the probe is
// linked statically, where the C library's group lookups need its shared modules at run time.
void GroupName(gid_t gid, char* name, std::size_t capacity) {
    std::snprintf(name, capacity, "%u", static_cast<unsigned>(gid));
    std::FILE* file = std::fopen("/etc/group", "re");
    if (file == nullptr) {
        return;
    }
    char line[1024];
    while (std::fgets(line, sizeof line, file) != nullptr) {
        char* password = std::strchr(line, ':');
        char* id = password == nullptr ? nullptr : std::strchr(password + 1, ':');
        if (id == nullptr) {
            continue;
        }
        char* end = nullptr;
        const unsigned long number = std::strtoul(id + 1, &end, 10);
        if (end != id + 1 && *end == ':' && number == gid) {
            *password = '\0';
            std::snprintf(name, capacity, "%s", line);
            break;
        }
    }
    std::fclose(file);
}

}  // namespace

bool NodeGroupLacksUs(const char* devicePath, char* group, std::size_t capacity) {
    char node[64];
    const std::size_t length = std::strcspn(devicePath, "#");
    struct stat status {};
    if (length >= sizeof node) {
        return false;
    }
    std::memcpy(node, devicePath, length);
    node[length] = '\0';
    constexpr mode_t kGroupReadWrite = S_IRGRP | S_IWGRP;
    if (stat(node, &status) != 0 || (status.st_mode & kGroupReadWrite) != kGroupReadWrite ||
        status.st_gid == 0 || InGroup(status.st_gid)) {
        return false;
    }
    GroupName(status.st_gid, group, capacity);
    return true;
}

}  // namespace quen::hid::hidraw
