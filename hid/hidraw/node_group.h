// Why this user may not open a hidraw node that the udev rule's group form gave to a group: the
// user is not in that group. The node then looks as it would to a till with the rule in place, and
// installing the rule, the remedy when no rule applies, would change nothing. The probe and the
// state a till shows say so.
#pragma once

#include <cstddef>

namespace quen::hid::hidraw {

// When the node that `devicePath` names ("/dev/hidrawN#collection@identity") lets its group read
// and write it, and that group is not root and not one of this process's groups: its name (its
// number when /etc/group does not name it) in `group`, and true. False otherwise.
bool NodeGroupLacksUs(const char* devicePath, char* group, std::size_t capacity);

}  // namespace quen::hid::hidraw
