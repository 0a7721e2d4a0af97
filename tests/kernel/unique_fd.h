// The kernel tests own their descriptors with the hidraw platform's own class.
#pragma once

#include "hid/hidraw/unique_fd.h"

namespace quen::test {
using hid::hidraw::UniqueFd;
}  // namespace quen::test
