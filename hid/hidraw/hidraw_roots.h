// Where the hidraw platform looks for devices. Production builds always use the system's own
// folders; unit tests point the platform at a sysfs tree and device folder made in a temp folder.
#pragma once

namespace quen::hid::hidraw {

struct HidrawRoots {
    const char* sysClass;  // the hidraw class folder of sysfs: "/sys/class/hidraw"
    const char* dev;       // where the nodes are: "/dev"
};

// For tests only: both strings must outlive every later platform call.
void UseRoots(const char* sysClass, const char* dev);

}  // namespace quen::hid::hidraw
