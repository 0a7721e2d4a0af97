#include "hid/sim/wire_log.h"

#include <fcntl.h>

#include <cstdio>

#ifdef _WIN32
#include <io.h>
#include <sys/stat.h>
#else
#include <unistd.h>
#endif

namespace quen::hid::sim {
namespace {

#ifdef _WIN32
int OpenForAppend(const char* file) {
    return _open(file, _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY, _S_IREAD | _S_IWRITE);
}
void WriteAll(int fd, const char* text, std::size_t size) {
    _write(fd, text, static_cast<unsigned>(size));
}
void CloseFile(int fd) {
    _close(fd);
}
#else
int OpenForAppend(const char* file) {
    return open(file, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
}
void WriteAll(int fd, const char* text, std::size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, text, size);
        if (n <= 0) {
            return;
        }
        text += n;
        size -= static_cast<std::size_t>(n);
    }
}
void CloseFile(int fd) {
    close(fd);
}
#endif

// A path longer than this is cut in the log line; every report byte still fits.
constexpr int kMostPathChars = 1024;

}  // namespace

void AppendWireLine(const char* file, std::string_view path, IoOutcome outcome,
                    const std::uint8_t* bytes, std::size_t length) {
    char line[kMostPathChars + 16 + 3 * 256 + 2];
    const int pathChars = path.size() < static_cast<std::size_t>(kMostPathChars)
                              ? static_cast<int>(path.size())
                              : kMostPathChars;
    int used = std::snprintf(line, sizeof line, "%.*s %s", pathChars, path.data(),
                             outcome == IoOutcome::Completed ? "completed" : "timed-out");
    if (used < 0) {
        return;
    }
    for (std::size_t i = 0; i < length && i < 256; ++i) {
        used += std::snprintf(line + used, sizeof line - static_cast<std::size_t>(used), " %02x",
                              bytes[i]);
    }
    line[used++] = '\n';
    const int fd = OpenForAppend(file);
    if (fd < 0) {
        return;
    }
    WriteAll(fd, line, static_cast<std::size_t>(used));
    CloseFile(fd);
}

}  // namespace quen::hid::sim
