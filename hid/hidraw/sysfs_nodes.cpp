#include "hid/hidraw/sysfs_nodes.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "hid/hidraw/unique_fd.h"

namespace quen::hid::hidraw {
namespace {

constexpr char kNodePrefix[] = "hidraw";
constexpr std::size_t kPathCapacity = 4096;  // PATH_MAX on Linux
// A HID device's uevent is a few short lines (driver, ID, name, phys, uniq, modalias).
constexpr std::size_t kUeventCapacity = 4096;

class Directory {
  public:
    explicit Directory(const char* path) : dir_(opendir(path)) {}
    ~Directory() {
        if (dir_ != nullptr) {
            closedir(dir_);
        }
    }
    Directory(const Directory&) = delete;
    Directory& operator=(const Directory&) = delete;
    DIR* get() const { return dir_; }

  private:
    DIR* dir_;
};

bool NodeFilePath(const std::string& classRoot, unsigned number, const char* leaf, char* path) {
    const int length = std::snprintf(path, kPathCapacity, "%s/%s%u/device/%s", classRoot.c_str(),
                                     kNodePrefix, number, leaf);
    return length > 0 && static_cast<std::size_t>(length) < kPathCapacity;
}

// Reads the whole file into `buffer`; false when it cannot be read or holds more than
// `capacity` bytes (a cut descriptor would describe another device).
bool ReadWholeFile(const char* path, std::uint8_t* buffer, std::size_t capacity,
                   std::size_t* length) {
    const UniqueFd file(open(path, O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) {
        return false;
    }
    std::size_t filled = 0;
    for (;;) {
        std::uint8_t spare;
        const bool full = filled == capacity;
        const ssize_t got = full ? read(file.get(), &spare, 1)
                                 : read(file.get(), buffer + filled, capacity - filled);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0 || (full && got > 0)) {
            return false;
        }
        if (got == 0) {
            *length = filled;
            return true;
        }
        filled += static_cast<std::size_t>(got);
    }
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Reads 1 to 8 hex digits at `*at`, stopping at the first other character or at `end`.
bool ParseHex(const char** at, const char* end, std::uint32_t* value) {
    std::uint32_t result = 0;
    std::size_t digits = 0;
    for (; *at != end && HexDigit(**at) >= 0; ++*at, ++digits) {
        if (digits == 8) {
            return false;
        }
        result = (result << 4) | static_cast<std::uint32_t>(HexDigit(**at));
    }
    *value = result;
    return digits > 0;
}

bool Skip(const char** at, const char* end, char expected) {
    if (*at == end || **at != expected) {
        return false;
    }
    ++*at;
    return true;
}

// Finds the line HID_ID=bus:vendor:product (e.g. HID_ID=0003:00002E5A:00001234).
bool ParseHidId(const char* text, std::size_t length, HidrawNode* out) {
    static constexpr char kKey[] = "HID_ID=";
    const std::size_t keyLength = sizeof kKey - 1;
    const char* const end = text + length;
    for (const char* line = text; line < end;) {
        const char* const lineEnd = std::find(line, end, '\n');
        if (static_cast<std::size_t>(lineEnd - line) >= keyLength &&
            std::memcmp(line, kKey, keyLength) == 0) {
            const char* at = line + keyLength;
            std::uint32_t bus = 0, vendor = 0, product = 0;
            if (!ParseHex(&at, lineEnd, &bus) || !Skip(&at, lineEnd, ':') ||
                !ParseHex(&at, lineEnd, &vendor) || !Skip(&at, lineEnd, ':') ||
                !ParseHex(&at, lineEnd, &product) || at != lineEnd) {
                return false;
            }
            out->bus = bus;
            out->vendorId = static_cast<std::uint16_t>(vendor);
            out->productId = static_cast<std::uint16_t>(product);
            return true;
        }
        line = lineEnd == end ? end : lineEnd + 1;
    }
    return false;
}

bool ReadUeventAndDescriptor(const std::string& classRoot, unsigned number, HidrawNode* out) {
    char path[kPathCapacity];
    char uevent[kUeventCapacity];
    std::size_t ueventLength = 0;
    if (!NodeFilePath(classRoot, number, "uevent", path) ||
        !ReadWholeFile(path, reinterpret_cast<std::uint8_t*>(uevent), sizeof uevent,
                       &ueventLength) ||
        !ParseHidId(uevent, ueventLength, out)) {
        return false;
    }
    std::size_t descriptorSize = 0;
    if (!NodeFilePath(classRoot, number, "report_descriptor", path) ||
        !ReadWholeFile(path, out->descriptor, sizeof out->descriptor, &descriptorSize)) {
        return false;
    }
    out->number = number;
    out->descriptorSize = static_cast<std::uint16_t>(descriptorSize);
    return true;
}

}  // namespace

bool ParseHidrawName(std::string_view name, unsigned* number) {
    const std::size_t prefixLength = sizeof kNodePrefix - 1;
    if (name.substr(0, prefixLength) != kNodePrefix) {
        return false;
    }
    const std::string_view digits = name.substr(prefixLength);
    if (digits.empty() || digits.size() > 9 || (digits[0] == '0' && digits.size() > 1)) {
        return false;
    }
    unsigned value = 0;
    for (const char digit : digits) {
        if (digit < '0' || digit > '9') {
            return false;
        }
        value = value * 10 + static_cast<unsigned>(digit - '0');
    }
    *number = value;
    return true;
}

std::vector<unsigned> ListHidrawNodeNumbers(const std::string& classRoot) {
    std::vector<unsigned> numbers;
    Directory dir(classRoot.c_str());
    if (dir.get() == nullptr) {
        return numbers;
    }
    while (const dirent* entry = readdir(dir.get())) {
        unsigned number;
        if (ParseHidrawName(entry->d_name, &number)) {
            numbers.push_back(number);
        }
    }
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

bool ReadHidrawNode(const std::string& classRoot, unsigned number, HidrawNode* out) {
    if (ReadUeventAndDescriptor(classRoot, number, out)) {
        return true;
    }
    out->number = number;
    out->bus = 0;
    out->vendorId = 0;
    out->productId = 0;
    out->descriptorSize = 0;
    return false;
}

}  // namespace quen::hid::hidraw
