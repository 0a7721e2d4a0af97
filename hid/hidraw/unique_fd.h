// A file descriptor owned by one scope: closed when the scope ends unless released or moved on.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <utility>

namespace quen::hid::hidraw {

class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            Reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    // Opens `path` with O_CLOEXEC added; invalid (and errno set) on failure.
    static UniqueFd Open(const char* path, int flags) {
        return UniqueFd(::open(path, flags | O_CLOEXEC));
    }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release() { return std::exchange(fd_, -1); }
    void Reset() {
        if (fd_ >= 0) {
            // Not retried on EINTR: on Linux the descriptor is released whatever close reports.
            ::close(fd_);
            fd_ = -1;
        }
    }

  private:
    int fd_ = -1;
};

}  // namespace quen::hid::hidraw
