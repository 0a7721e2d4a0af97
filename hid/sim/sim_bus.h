// An in-process simulated HID bus behind the platform seam. Tests declare interfaces, queue input
// reports with arrival times, choose how writes end, unplug and replug devices, and read back
// what went on the wire and how many handles were opened and closed.
//
// Time runs on a virtual clock by default: a wait with a time-out advances the clock instead of
// sleeping, so a 6000 ms bound is checked exactly in microseconds. In real-clock mode (the demo,
// the JVM tests) the bus sleeps; a report queued from another thread wakes a waiting read.
//
// Every platform call costs the same however long the bus has run: handles live in a slot table
// and are released on close, interfaces are found by path through a hash index, report queues
// and write histories are rings of fixed-size slots, so reads and writes allocate nothing.
#pragma once

#include <condition_variable>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "hid/platform.h"
#include "hid/sim/handle_table.h"
#include "hid/sim/sim_interface.h"
#include "hid/sim/spin_lock.h"

namespace quen::hid::sim {

enum class ClockMode { Virtual, Real };

struct WireRecord {
    std::vector<std::uint8_t> bytes;  // exactly what the write handed the device
    IoOutcome outcome;
    std::uint64_t atMs;
};

struct Counters {
    int listsOpened = 0;
    int listsClosed = 0;
    int queryHandlesOpened = 0;
    int queryHandlesClosed = 0;
    int attributeQueries = 0;
    int capsQueries = 0;
    int channelsOpened = 0;
    int channelsClosed = 0;
    int eventsCreated = 0;
    int reads = 0;
    int writes = 0;
    int cancels = 0;
    int reportsDropped = 0;  // queued beyond ReportQueue::kMaxReports
    int badHandleUses = 0;   // a closed, unknown or wrong-kind handle passed in: always a fault

    int openQueryHandles() const { return queryHandlesOpened - queryHandlesClosed; }
    int openChannels() const { return channelsOpened - channelsClosed; }
};

// The bus's handle table: handles open now (events included), and slots it ever needed.
struct HandleUse {
    std::size_t live = 0;
    std::size_t slots = 0;
};

class SimBus {
  public:
    // Inline, so a platform call costs no call of its own to find the bus.
    static SimBus& Instance() {
        static SimBus bus;
        return bus;
    }

    // --- scripting, for tests and the scenario loader ---

    // Forgets every interface, report, record, count and handle but the completion events; the
    // clock starts again at 0.
    void Reset(ClockMode mode = ClockMode::Virtual);
    // Real-clock mode: bus time 0 becomes this moment of the steady clock (nanoseconds from its
    // epoch: CLOCK_MONOTONIC on Linux, which a JVM's System.nanoTime reads too), so the process
    // that wrote a scenario knows to the nanosecond when each report is due. Before that moment
    // the bus clock reads 0.
    void PinRealEpoch(std::chrono::nanoseconds sinceSteadyEpoch);
    // Appends an interface; enumeration order is the order of adding. Of two interfaces with
    // the same path, the first is the one opened by path.
    void AddInterface(const InterfaceSpec& spec);
    // Changes a declared interface in place (enumeration order stays).
    void Update(std::string_view path, void (*change)(InterfaceSpec&));
    void SetWriteBehaviour(std::string_view path, WriteBehaviour behaviour,
                           std::uint32_t latencyMs = 0);
    // Queues an input report (byte 0 the report ID) arriving at atMs on the bus clock. Past
    // ReportQueue::kMaxReports waiting reports it is dropped and counted.
    void QueueReport(std::string_view path, std::uint64_t atMs,
                     const std::vector<std::uint8_t>& bytes);
    std::size_t PendingReports(std::string_view path) const;
    // Unplugged interfaces leave the enumeration and their open channels fail from then on,
    // also after a replug: a replugged device needs a new open.
    void Unplug(std::string_view path);
    void Replug(std::string_view path);
    void FailEventCreation(bool fail);
    // Appends one line per write ("path outcome hex bytes") to this file; empty: none.
    void SetWireLog(const std::string& file);

    // The latest WriteHistory::kKept writes, oldest first; WireTotal counts every one.
    std::vector<WireRecord> Wire(std::string_view path) const;
    std::uint64_t WireTotal(std::string_view path) const;
    Counters counters() const;
    HandleUse handleUse() const;
    std::uint64_t NowMs() const;
    ClockMode clockMode() const;

    // --- the platform side: the seam's operations, as platform.h states them ---

    InterfaceList* OpenInterfaceList();
    PathStatus InterfacePath(InterfaceList* list, std::uint32_t index, char* path,
                             std::size_t capacity);
    void CloseInterfaceList(InterfaceList* list);
    NativeHandle OpenQueryHandle(const char* path);
    bool QueryAttributes(NativeHandle queryHandle, InterfaceAttributes* attributes);
    bool QueryCaps(NativeHandle queryHandle, InterfaceCaps* caps);
    void CloseQueryHandle(NativeHandle queryHandle);
    NativeHandle OpenChannel(const char* path, ChannelKind kind);
    OpenFailure LastOpenFailure() const;
    void CloseChannel(NativeHandle channel);
    NativeHandle CreateCompletionEvent();
    IoOutcome ReadInputReport(NativeHandle channel, NativeHandle event, std::uint8_t* buffer,
                              std::uint32_t length, std::uint32_t timeoutMs);
    IoOutcome WriteOutputReport(NativeHandle channel, NativeHandle event,
                                const std::uint8_t* report, std::uint32_t length,
                                std::uint32_t timeoutMs);

  private:
    using SteadyTime = std::chrono::steady_clock::time_point;
    // When a wait ends: on the bus clock, and in real time for a wait that began in real time
    // (which must end then even if the bus is reset meanwhile).
    struct Deadline {
        std::uint64_t busMs;
        SteadyTime wake;
        bool real;
    };
    // The device behind a channel, as it was when the channel was opened.
    struct Target {
        SimInterface* device = nullptr;
        std::uint32_t plugGeneration = 0;
    };

    SimInterface* FindInterface(std::string_view path);
    const SimInterface* FindInterface(std::string_view path) const;
    void IndexPaths();
    HandleEntry* Live(NativeHandle handle, HandleKind kind);
    Target ChannelTarget(NativeHandle channel, HandleKind kind, NativeHandle event);
    bool Reachable(const Target& target, std::uint64_t resets) const;
    std::uint64_t NowLocked() const;
    // Real-clock mode: the bus time of a steady-clock moment, in whole ms.
    std::uint64_t BusMsAt(SteadyTime when) const;
    Deadline DeadlineAfter(std::uint64_t ms) const;
    // Waits until `ms` on the bus clock or until a report is queued, whichever comes first.
    void WaitForReport(std::uint64_t ms, std::unique_lock<SpinLock>& lock);
    // Waits out the whole time, whatever happens on the bus meanwhile.
    void WaitOut(const Deadline& deadline, std::unique_lock<SpinLock>& lock);

    mutable SpinLock mutex_;
    // Any lock: it waits with the bus's own.
    std::condition_variable_any reportQueued_;
    ClockMode mode_ = ClockMode::Virtual;
    std::uint64_t virtualNowMs_ = 0;
    SteadyTime realEpoch_{};
    // Counts resets: a call that waited unlocked sees whether its device still exists.
    std::uint64_t resets_ = 0;
    // Stable addresses: handles and waiting calls point at interfaces until the next reset.
    std::vector<std::unique_ptr<SimInterface>> interfaces_;
    std::unordered_map<std::string_view, SimInterface*> byPath_;  // views of spec.path
    HandleTable handles_;
    Counters counters_;
    bool failEventCreation_ = false;
    std::string wireLog_;
};

}  // namespace quen::hid::sim
