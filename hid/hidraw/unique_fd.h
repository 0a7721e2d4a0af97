// A file descriptor owned by one scope: closed when the scope ends unless released.
#pragma once

#include <unistd.h>

namespace quen::hid::hidraw {

class UniqueFd {
  public:
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() {
        if (fd_ >= 0) {
            // Not retried on EINTR: on Linux the descriptor is released whatever close reports.
            ::close(fd_);
        }
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

  private:
    int fd_;
};

}  // namespace quen::hid::hidraw
