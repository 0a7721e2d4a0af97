// Report I/O of the hidraw platform on a socketpair standing in for the node: a SEQPACKET socket
// keeps report boundaries, cuts a read into a shorter buffer and hangs up like an unplugged node.
// The test holds the kernel's end. Time-outs here are the real poll's, so they run on the clock.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <thread>
#include <vector>

#include "hid/deadline.h"
#include "hid/hidraw/hidraw_channel.h"

namespace quen::test {
namespace {

using hid::IoOutcome;
using hid::hidraw::ChannelReports;
using hid::hidraw::HidrawChannel;
using hid::hidraw::UniqueFd;
using Clock = std::chrono::steady_clock;

long MsSince(Clock::time_point start) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

ChannelReports Numbered(std::initializer_list<std::uint8_t> ids) {
    ChannelReports reports;
    reports.numbered = true;
    for (std::uint8_t id : ids) {
        reports.inputReportIds.Add(id);
    }
    return reports;
}

class HidrawNode : public ::testing::Test {
  protected:
    void SetUp() override {
        // The stand-in is a socket: a write after a hang-up must fail, not kill the test.
        std::signal(SIGPIPE, SIG_IGN);
    }
    void Open(const ChannelReports& reports) {
        channel_.reset();
        Hangup();
        int ends[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends), 0);
        kernel_ = ends[0];
        channel_ = std::make_unique<HidrawChannel>(UniqueFd(ends[1]), reports);
    }
    void TearDown() override {
        channel_.reset();
        Hangup();
    }
    void Hangup() {
        if (kernel_ >= 0) {
            close(kernel_);
            kernel_ = -1;
        }
    }
    void Deliver(const std::vector<std::uint8_t>& report) {
        ASSERT_EQ(send(kernel_, report.data(), report.size(), 0),
                  static_cast<ssize_t>(report.size()));
    }
    std::vector<std::uint8_t> Written() {
        std::vector<std::uint8_t> got(512);
        const ssize_t n = recv(kernel_, got.data(), got.size(), MSG_DONTWAIT);
        got.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
        return got;
    }
    IoOutcome Read(std::uint32_t length, std::uint32_t timeoutMs) {
        buffer_.assign(260, 0xEE);
        hid::Deadline deadline(timeoutMs);
        return channel_->Read(buffer_.data(), length, deadline);
    }

    int kernel_ = -1;
    std::unique_ptr<HidrawChannel> channel_;
    std::vector<std::uint8_t> buffer_;
};

TEST_F(HidrawNode, UnnumberedReportGetsReportIdZeroInFrontAndNothingPastItsLength) {
    Open(ChannelReports{});
    Deliver({0x11, 0x22, 0x33});
    ASSERT_EQ(Read(65, 500), IoOutcome::Completed);
    EXPECT_EQ(buffer_[0], 0x00);
    EXPECT_EQ(buffer_[1], 0x11);
    EXPECT_EQ(buffer_[3], 0x33);
    EXPECT_EQ(buffer_[4], 0x00) << "zeros past a shorter report";
    EXPECT_EQ(buffer_[65], 0xEE) << "nothing past the length asked for";

    // A report longer than the interface's is cut to its length, ID byte included.
    Deliver(std::vector<std::uint8_t>(100, 0x44));
    ASSERT_EQ(Read(65, 500), IoOutcome::Completed);
    EXPECT_EQ(buffer_[64], 0x44);
    EXPECT_EQ(buffer_[65], 0xEE);
}

TEST_F(HidrawNode, NumberedReportsOfAnotherCollectionDoNotCompleteTheRead) {
    Open(Numbered({2}));
    Deliver({1, 0xAA});  // the scanner collection's report, on the scale's channel
    Deliver({2, 0xBB});
    ASSERT_EQ(Read(9, 500), IoOutcome::Completed);
    EXPECT_EQ(buffer_[0], 2);
    EXPECT_EQ(buffer_[1], 0xBB);

    Deliver({1, 0xCC});
    const auto start = Clock::now();
    EXPECT_EQ(Read(9, 100), IoOutcome::TimedOut);
    EXPECT_GE(MsSince(start), 100);
    EXPECT_EQ(buffer_[9], 0xEE) << "nothing past the length asked for";
}

TEST_F(HidrawNode, SilenceTimesOutOnTimeAndLosesNothing) {
    Open(ChannelReports{});
    const auto start = Clock::now();
    EXPECT_EQ(Read(65, 200), IoOutcome::TimedOut);
    const long elapsed = MsSince(start);
    EXPECT_GE(elapsed, 200);
    EXPECT_LT(elapsed, 1500);
    // The scale's 50 ms reads: the caller's time-out, not the scanner's 500 ms.
    const auto shortStart = Clock::now();
    EXPECT_EQ(Read(65, 50), IoOutcome::TimedOut);
    EXPECT_GE(MsSince(shortStart), 50);
    EXPECT_LT(MsSince(shortStart), 450);

    std::thread device([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        Deliver({0x5A});
    });
    EXPECT_EQ(Read(65, 2000), IoOutcome::Completed);
    device.join();
    EXPECT_EQ(buffer_[1], 0x5A);
}

TEST_F(HidrawNode, ASignalDoesNotShortenTheWait) {
    Open(ChannelReports{});
    // A handler without SA_RESTART makes poll fail with EINTR.
    struct sigaction action {};
    action.sa_handler = [](int) {};
    struct sigaction previous {};
    ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);
    const pthread_t reader = pthread_self();
    std::thread signaller([reader] {
        for (int i = 0; i < 5; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            pthread_kill(reader, SIGUSR1);
        }
    });
    const auto start = Clock::now();
    EXPECT_EQ(Read(65, 300), IoOutcome::TimedOut);
    EXPECT_GE(MsSince(start), 300);
    signaller.join();
    sigaction(SIGUSR1, &previous, nullptr);
}

TEST_F(HidrawNode, HangupIsGoneNeverAPhantomReport) {
    Open(ChannelReports{});
    Deliver({0x01});
    Hangup();
    // What was queued before the unplug is still delivered, then the node reports the loss.
    // Keeping a polling caller's pace is the device object's part: the channel says so at once.
    ASSERT_EQ(Read(65, 500), IoOutcome::Completed);
    EXPECT_EQ(buffer_[1], 0x01);
    for (int i = 0; i < 2; ++i) {
        const auto start = Clock::now();
        EXPECT_EQ(Read(65, 150), IoOutcome::Gone);
        EXPECT_LT(MsSince(start), 100) << "a gone device is said at once";
    }
    // A hang-up without data to read (POLLHUP alone), as a pipe whose writer has gone shows it.
    int pipeEnds[2];
    ASSERT_EQ(pipe2(pipeEnds, O_CLOEXEC), 0);
    close(pipeEnds[1]);
    channel_ = std::make_unique<HidrawChannel>(UniqueFd(pipeEnds[0]), ChannelReports{});
    EXPECT_EQ(Read(65, 150), IoOutcome::Gone);
}

TEST_F(HidrawNode, ClosingTheChannelClosesItsDescriptor) {
    int ends[2];
    ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
    close(ends[1]);
    channel_ = std::make_unique<HidrawChannel>(UniqueFd(ends[0]), ChannelReports{});
    channel_.reset();
    EXPECT_EQ(fcntl(ends[0], F_GETFD), -1);
    EXPECT_EQ(errno, EBADF);
}

TEST_F(HidrawNode, WritePassesTheBufferAsItIsReportIdFirst) {
    Open(ChannelReports{});
    const std::vector<std::uint8_t> report = {0x00, 0x41, 0x42, 0x00};
    EXPECT_EQ(channel_->Write(report.data(), 4), IoOutcome::Completed);
    EXPECT_EQ(Written(), report);

    Open(Numbered({3}));
    const std::vector<std::uint8_t> numbered = {0x03, 0x7F};
    EXPECT_EQ(channel_->Write(numbered.data(), 2), IoOutcome::Completed);
    EXPECT_EQ(Written(), numbered);

    Hangup();
    EXPECT_EQ(channel_->Write(numbered.data(), 2), IoOutcome::Failed);
}

}  // namespace
}  // namespace quen::test
