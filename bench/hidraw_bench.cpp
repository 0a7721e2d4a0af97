// A micro-benchmark of the hidraw channel's own code (HidrawChannel) against the bare system calls
// it rests on, on a SEQPACKET socketpair that stands in for the node (one message per report, as
// hidraw delivers them). It reads no hidraw node: no kernel HID code is timed, and the figures
// say only what the channel's code adds to poll + read. The shipped library on a real node is
// measured in the kernel VM (bench/java HidrawVmBench). Batches of the channel's calls and of a
// bare poll+read (or write) on the same socket alternate; the time shown is the channel's per
// call, with the bare call's (bare_ns) and the ratio of the two beside it.
#include <benchmark/benchmark.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <vector>

#include "hid/deadline.h"
#include "hid/hidraw/hidraw_channel.h"

namespace {

using quen::hid::IoOutcome;
using quen::hid::hidraw::ChannelReports;
using quen::hid::hidraw::HidrawChannel;
using quen::hid::hidraw::UniqueFd;
using Clock = std::chrono::steady_clock;

constexpr int kBatch = 64;                   // reports a socket holds with room to spare
constexpr std::uint32_t kReportLength = 64;  // report ID byte included, as the device asks
constexpr std::uint32_t kTimeoutMs = 500;    // the scanner's
constexpr std::uint8_t kReportId = 3;

// The node's two ends, both non-blocking as the platform opens the node: the channel takes one
// (and closes it), this keeps the kernel's.
class StandInNode {
  public:
    StandInNode() {
        int ends[2];
        if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, ends) == 0) {
            kernel_ = ends[0];
            node_ = ends[1];
        }
    }
    ~StandInNode() {
        if (kernel_ >= 0) {
            close(kernel_);
        }
    }
    StandInNode(const StandInNode&) = delete;
    StandInNode& operator=(const StandInNode&) = delete;

    bool ok() const { return kernel_ >= 0; }
    int node() const { return node_; }

    bool Send(const std::uint8_t* report, std::size_t length, int count) const {
        for (int i = 0; i < count; ++i) {
            if (write(kernel_, report, length) != static_cast<ssize_t>(length)) {
                return false;
            }
        }
        return true;
    }
    bool Drain(int count) const {
        std::uint8_t sink[kReportLength];
        for (int i = 0; i < count; ++i) {
            if (read(kernel_, sink, sizeof sink) <= 0) {
                return false;
            }
        }
        return true;
    }

  private:
    int kernel_ = -1;
    int node_ = -1;
};

// Over the repetitions that run.sh asks for, besides Google Benchmark's mean and median.
double Min(const std::vector<double>& values) {
    return *std::min_element(values.begin(), values.end());
}
double Max(const std::vector<double>& values) {
    return *std::max_element(values.begin(), values.end());
}

double NsPerCall(Clock::duration batch) {
    return static_cast<double>(
               std::chrono::duration_cast<std::chrono::nanoseconds>(batch).count()) /
           kBatch;
}

bool BareRead(int fd, std::uint8_t* into, std::size_t room) {
    pollfd ready{fd, POLLIN, 0};
    return poll(&ready, 1, static_cast<int>(kTimeoutMs)) == 1 && read(fd, into, room) > 0;
}

// The benchmark's iterations: one batch of the channel's calls and one of the bare calls each,
// which goes first alternating. The channel's time per call is the benchmark's; the bare call's
// (bare_ns) and the ratio stand beside it. A batch that fails clears `ok` and ends the run.
template <typename Channel, typename Bare>
void CompareWithBare(benchmark::State& state, Channel channelBatch, Bare bareBatch,
                     const bool& ok) {
    double channelTotal = 0;
    double bareTotal = 0;
    long round = 0;
    for (auto _ : state) {
        double channelNs = 0;
        double bareNs = 0;
        if (round++ % 2 == 0) {
            channelNs = channelBatch();
            bareNs = bareBatch();
        } else {
            bareNs = bareBatch();
            channelNs = channelBatch();
        }
        if (!ok) {
            state.SkipWithError("a call failed");
            break;
        }
        state.SetIterationTime(channelNs * 1e-9);
        channelTotal += channelNs;
        bareTotal += bareNs;
    }
    state.counters["bare_ns"] = benchmark::Counter(bareTotal, benchmark::Counter::kAvgIterations);
    state.counters["ratio"] = bareTotal > 0 ? channelTotal / bareTotal : 0;
}

// Arg 0: a device without numbered reports (the channel puts the 0 in byte 0 itself); arg 1:
// numbered reports, each checked against the collection's IDs.
void BM_HidrawReadPerCall(benchmark::State& state) {
    const bool numbered = state.range(0) != 0;
    StandInNode node;
    if (!node.ok()) {
        state.SkipWithError("no socketpair");
        return;
    }
    ChannelReports reports;
    reports.numbered = numbered;
    reports.inputReportIds.Add(kReportId);
    const int fd = node.node();
    HidrawChannel channel(UniqueFd(fd), reports);  // the channel closes the node
    // On the wire: the report ID only when reports are numbered.
    std::vector<std::uint8_t> wire(numbered ? kReportLength : kReportLength - 1, 0x41);
    wire[0] = numbered ? kReportId : 0x41;
    std::uint8_t buffer[kReportLength] = {};
    bool ok = true;
    CompareWithBare(
        state,
        [&] {
            ok = ok && node.Send(wire.data(), wire.size(), kBatch);
            const Clock::time_point start = Clock::now();
            for (int i = 0; i < kBatch; ++i) {
                quen::hid::Deadline deadline(kTimeoutMs);
                ok = ok && channel.Read(buffer, kReportLength, deadline) == IoOutcome::Completed;
            }
            return NsPerCall(Clock::now() - start);
        },
        [&] {
            ok = ok && node.Send(wire.data(), wire.size(), kBatch);
            std::uint8_t* const into = numbered ? buffer : buffer + 1;
            const Clock::time_point start = Clock::now();
            for (int i = 0; i < kBatch; ++i) {
                ok = ok && BareRead(fd, into, wire.size());
            }
            return NsPerCall(Clock::now() - start);
        },
        ok);
}
BENCHMARK(BM_HidrawReadPerCall)
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Iterations(2000)
    ->ComputeStatistics("min", Min)
    ->ComputeStatistics("max", Max);

void BM_HidrawWritePerCall(benchmark::State& state) {
    StandInNode node;
    if (!node.ok()) {
        state.SkipWithError("no socketpair");
        return;
    }
    const int fd = node.node();
    HidrawChannel channel(UniqueFd(fd), ChannelReports{});  // the channel closes the node
    std::uint8_t report[kReportLength];
    std::fill(report, report + kReportLength, std::uint8_t{0x41});
    report[0] = 0;  // the report ID, passed on as it is
    bool ok = true;
    CompareWithBare(
        state,
        [&] {
            const Clock::time_point start = Clock::now();
            for (int i = 0; i < kBatch; ++i) {
                ok = ok && channel.Write(report, kReportLength) == IoOutcome::Completed;
            }
            const double ns = NsPerCall(Clock::now() - start);
            ok = ok && node.Drain(kBatch);
            return ns;
        },
        [&] {
            const Clock::time_point start = Clock::now();
            for (int i = 0; i < kBatch; ++i) {
                ok = ok && write(fd, report, kReportLength) == static_cast<ssize_t>(kReportLength);
            }
            const double ns = NsPerCall(Clock::now() - start);
            ok = ok && node.Drain(kBatch);
            return ns;
        },
        ok);
}
BENCHMARK(BM_HidrawWritePerCall)
    ->UseManualTime()
    ->Iterations(2000)
    ->ComputeStatistics("min", Min)
    ->ComputeStatistics("max", Max);

}  // namespace

BENCHMARK_MAIN();
