#include "hid/hidraw/hidraw_channel.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "hid/deadline.h"

namespace quen::hid::hidraw {

IoOutcome HidrawChannel::Read(std::uint8_t* buffer, std::uint32_t length, Deadline& deadline) {
    if (length == 0 || length > kMaxReportBytes) {
        return IoOutcome::Failed;
    }
    // hidraw leaves the report ID out for devices without numbered reports, where Windows
    // delivers a 0 in byte 0: read one byte further in and put the 0 there ourselves. The report
    // goes straight into the caller's buffer.
    const bool numbered = reports_.numbered;
    std::uint8_t* const into = numbered ? buffer : buffer + 1;
    const std::uint32_t room = numbered ? length : length - 1;
    if (!numbered) {
        buffer[0] = 0;
    }
    // The first look takes a report already queued without reading the clock: where a clock
    // read is dear (a virtual machine whose clock source is the HPET: a system call and an
    // emulated device read each), the deadline's reads cost more than the poll and the read.
    bool waited = false;
    // Every failure below returns at once: keeping a polling caller's pace on a dead device is
    // the device object's part, the same on every platform.
    for (;;) {
        pollfd ready{fd_.get(), POLLIN, 0};
        const int polled = ::poll(&ready, 1, waited ? static_cast<int>(deadline.RemainingMs()) : 0);
        if (polled < 0) {
            if (errno == EINTR) {
                continue;  // the deadline stays where it was
            }
            return IoOutcome::Failed;
        }
        if (polled == 0) {
            if (waited && deadline.Expired()) {
                return IoOutcome::TimedOut;  // nothing was taken from the node: nothing is lost
            }
            waited = true;
            continue;
        }
        if ((ready.revents & POLLIN) == 0) {
            return IoOutcome::Gone;  // POLLHUP or POLLERR without data: the device was unplugged
        }
        // A report longer than `room` is cut by the kernel, as a shorter Windows buffer would be.
        const ssize_t got = ::read(fd_.get(), into, room);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (got < 0) {
            // EIO or ENODEV once the device has gone.
            return errno == EIO || errno == ENODEV ? IoOutcome::Gone : IoOutcome::Failed;
        }
        if (got == 0) {
            return IoOutcome::Gone;  // a zero-length read means the same
        }
        // The node delivers the reports of every collection of the device; a report of another
        // collection belongs to another Windows handle and does not complete this read.
        if (!reports_.Accepts(buffer[0])) {
            continue;
        }
        const std::uint32_t filled = static_cast<std::uint32_t>(got) + (numbered ? 0u : 1u);
        if (filled < length) {
            std::memset(buffer + filled, 0, length - filled);
        }
        return IoOutcome::Completed;
    }
}

IoOutcome HidrawChannel::Write(const std::uint8_t* report, std::uint32_t length) {
    // Byte 0 goes to the kernel as it is: it is the report ID (0 for a device without numbered
    // reports), exactly as WriteFile takes it. usbhid drops a leading 0 before the transfer
    // itself (usbhid_output_report, usbhid_set_raw_report), so removing it here would make the
    // kernel eat the first data byte instead.
    //
    // poll cannot bound this call (a hidraw node always reports itself writable) and a hidraw
    // write cannot be cancelled, but the kernel bounds it: hidraw_write hands the report to
    // usbhid_output_report, an interrupt-OUT transfer by usb_interrupt_msg, or, for a device
    // without an interrupt-OUT endpoint, to usbhid_set_raw_report, a SET_REPORT control transfer
    // by usb_control_msg. Both wait in usb_start_wait_urb for at most USB_CTRL_SET_TIMEOUT
    // (5000 ms, include/linux/usb.h), then kill the URB and fail with ETIMEDOUT. A write to a USB
    // device that never takes the report therefore returns after about 5 s, within the device
    // object's 6 s bound, and is reported as TimedOut. (uhid's virtual devices queue the report and
    // never block.) As read in Debian's 6.1 kernel: drivers/hid/hidraw.c (hidraw_send_report),
    // drivers/hid/usbhid/hid-core.c, drivers/usb/core/message.c (usb_start_wait_urb).
    ssize_t written;
    do {
        written = ::write(fd_.get(), report, length);
    } while (written < 0 && errno == EINTR);
    if (written == static_cast<ssize_t>(length)) {
        return IoOutcome::Completed;
    }
    if (written < 0 && errno == ETIMEDOUT) {
        return IoOutcome::TimedOut;
    }
    if (written < 0 && errno == ENODEV) {
        // hidraw_send_report refuses at once when the node's device has gone (and usb_submit_urb
        // when the USB device has): nothing went out.
        return IoOutcome::Gone;
    }
    // EPIPE on a stall, EINVAL for a report the device does not have, a short write, EPROTO or
    // ESHUTDOWN when the device vanished while the report was on its way: not taken.
    return IoOutcome::Failed;
}

}  // namespace quen::hid::hidraw
