// winsock2.h before windows.h, which the header's users may have included first.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "kernel/device_control.h"

#include <cstdio>
#include <cstdlib>

#include "kernel/hex_bytes.h"

namespace quen::test {

static_assert(sizeof(SOCKET) == sizeof(std::uintptr_t));

DeviceControl::~DeviceControl() {
    if (socket_ != INVALID_SOCKET) {
        closesocket(static_cast<SOCKET>(socket_));
    }
    if (started_) {
        WSACleanup();
    }
}

bool DeviceControl::Connect(const std::string& address, unsigned timeoutMs) {
    WSADATA data;
    if (!started_ && WSAStartup(MAKEWORD(2, 2), &data) != 0) {
        error_ = "WSAStartup failed";
        return false;
    }
    started_ = true;
    const std::size_t colon = address.rfind(':');
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<u_short>(std::atoi(address.c_str() + colon + 1)));
    if (colon == std::string::npos ||
        inet_pton(AF_INET, address.substr(0, colon).c_str(), &peer.sin_addr) != 1) {
        error_ = "not HOST:PORT: " + address;
        return false;
    }
    const DWORD start = GetTickCount();
    do {
        const SOCKET attempt = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (attempt != INVALID_SOCKET &&
            connect(attempt, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0) {
            socket_ = attempt;
            return true;
        }
        closesocket(attempt);
        Sleep(100);
    } while (GetTickCount() - start < timeoutMs);
    error_ = "no device controller at " + address;
    return false;
}

int DeviceControl::Plug(const char* name, std::uint16_t vendorId, std::uint16_t productId,
                        const std::vector<std::uint8_t>& descriptor) {
    return PlugAs("plug", name, vendorId, productId, descriptor);
}

int DeviceControl::PlugUsb(const char* name, std::uint16_t vendorId, std::uint16_t productId,
                           const std::vector<std::uint8_t>& descriptor) {
    return PlugAs("plug-usb", name, vendorId, productId, descriptor);
}

int DeviceControl::PlugAs(const char* verb, const char* name, std::uint16_t vendorId,
                          std::uint16_t productId, const std::vector<std::uint8_t>& descriptor) {
    char ids[16];
    std::snprintf(ids, sizeof ids, "%04x %04x", vendorId, productId);
    const std::string answer =
        Ask(std::string(verb) + " " + ids + " " + Hex(descriptor) + " " + name);
    return answer.rfind("ok ", 0) == 0 ? std::atoi(answer.c_str() + 3) : -1;
}

bool DeviceControl::Send(int device, const std::vector<std::uint8_t>& report) {
    return Ask("send " + std::to_string(device) + " " + Hex(report)) == "ok";
}

std::vector<std::uint8_t> DeviceControl::Output(int device, unsigned timeoutMs) {
    const std::string answer =
        Ask("output " + std::to_string(device) + " " + std::to_string(timeoutMs));
    std::vector<std::uint8_t> bytes;
    if (answer.rfind("ok ", 0) != 0 || !ParseHex(answer.substr(3), &bytes)) {
        bytes.clear();
    }
    return bytes;
}

bool DeviceControl::Unplug(int device) {
    return Ask("unplug " + std::to_string(device)) == "ok";
}

bool DeviceControl::Replug(int device, std::uint16_t bcdDevice) {
    char release[8];
    std::snprintf(release, sizeof release, "%x", bcdDevice);
    return Ask("replug " + std::to_string(device) + " " + release) == "ok";
}

bool DeviceControl::SendLine(const std::string& line) {
    std::lock_guard<std::mutex> turn(mutex_);
    return Transmit(line);
}

bool DeviceControl::Transmit(const std::string& line) {
    const std::string text = line + "\n";
    return send(static_cast<SOCKET>(socket_), text.data(), static_cast<int>(text.size()), 0) ==
           static_cast<int>(text.size());
}

bool DeviceControl::ReceiveLine(std::string* line) {
    line->clear();
    char byte = 0;
    while (recv(static_cast<SOCKET>(socket_), &byte, 1, 0) == 1) {
        if (byte == '\n') {
            return true;
        }
        *line += byte;
    }
    return false;
}

std::string DeviceControl::Ask(const std::string& request) {
    std::lock_guard<std::mutex> turn(mutex_);
    if (!Transmit(request)) {
        return error_ = "error send failed";
    }
    std::string answer;
    ReceiveLine(&answer);
    if (answer.rfind("error", 0) == 0) {
        error_ = answer;
    }
    return answer;
}

}  // namespace quen::test
