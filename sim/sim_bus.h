// An in-process simulated HID bus behind the platform seam, for the tests and the demo. Tests
// declare interfaces, queue input reports with arrival times, choose how writes end, unplug and
// replug devices, and read back what went on the wire and how many handles were opened and
// closed. Time runs on the bus's clock (sim_clock.h): virtual by default, real for the demo and
// the JVM tests, where a report queued from another thread wakes a waiting read.
//
// A test double: one lock, plain containers. Its speed matters to nothing.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "hid/platform.h"
#include "sim/sim_clock.h"
#include "sim/sim_interface.h"

namespace quen::sim {

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
    // A closed, unknown or wrong-kind handle passed in, or a channel closed while a read or
    // write on it was in progress: always a fault.
    int badHandleUses = 0;

    int openQueryHandles() const { return queryHandlesOpened - queryHandlesClosed; }
    int openChannels() const { return channelsOpened - channelsClosed; }
};

class SimBus {
  public:
    static SimBus& Instance();

    // --- scripting, for tests and the scenario loader ---

    // Forgets every interface, report, record, count and handle but the completion events; the
    // clock starts again at 0.
    void Reset(ClockMode mode = ClockMode::Virtual);
    // See SimClock::PinRealEpoch: the process that wrote a scenario knows when each report is due.
    void PinRealEpoch(std::chrono::nanoseconds sinceSteadyEpoch);
    // Appends an interface; enumeration order is the order of adding. Of two interfaces with
    // the same path, the first is the one opened by path.
    void AddInterface(const InterfaceSpec& spec);
    // Changes a declared interface in place (enumeration order stays).
    void Update(std::string_view path, void (*change)(InterfaceSpec&));
    void SetWriteBehaviour(std::string_view path, WriteBehaviour behaviour,
                           std::uint32_t latencyMs = 0);
    // Queues an input report (byte 0 the report ID) arriving at atMs on the bus clock. Reports
    // for the same moment keep the order they were queued in.
    void QueueReport(std::string_view path, std::uint64_t atMs,
                     const std::vector<std::uint8_t>& bytes);
    std::size_t PendingReports(std::string_view path) const;
    // Unplugged interfaces leave the enumeration and their open channels fail from then on,
    // also after a replug: a replugged device needs a new open.
    void Unplug(std::string_view path);
    void Replug(std::string_view path);
    // The same at a time on the bus clock: a cable pulled at atMs and put back awayMs later.
    // Reports that arrived before the pull and were not read are lost with it; those scripted
    // for later stay queued. A read waiting on the channel fails at the pull.
    void ScheduleReseat(std::string_view path, std::uint64_t atMs, std::uint64_t awayMs);
    void FailEventCreation(bool fail);
    // Appends one line per write ("path completed|timed-out hex bytes") to this file; empty: none.
    void SetWireLog(const std::string& file);

    // The latest SimInterface::kWritesKept writes, oldest first; WireTotal counts every one.
    std::vector<WireRecord> Wire(std::string_view path) const;
    std::uint64_t WireTotal(std::string_view path) const;
    Counters counters() const;
    // Handles open now, events included.
    std::size_t liveHandles() const;
    std::uint64_t NowMs() const;
    ClockMode clockMode() const;
    SimClock& clock() { return clock_; }

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
    bool AccessHint(const char* path, char* text, std::size_t capacity);
    void CloseChannel(NativeHandle channel);
    NativeHandle CreateCompletionEvent();
    IoOutcome ReadInputReport(NativeHandle channel, NativeHandle event, std::uint8_t* buffer,
                              std::uint32_t length, Deadline& deadline);
    IoOutcome WriteOutputReport(NativeHandle channel, NativeHandle event,
                                const std::uint8_t* report, std::uint32_t length,
                                Deadline& deadline);

  private:
    enum class HandleKind { List, Query, ReadChannel, WriteChannel, Event };
    struct Handle {
        explicit Handle(HandleKind k, SimInterface* t = nullptr, std::uint32_t generation = 0)
            : kind(k), target(t), plugGeneration(generation) {}
        HandleKind kind;
        SimInterface* target;                 // queries and channels
        std::uint32_t plugGeneration;         // the target's, when the handle was opened
        std::vector<SimInterface*> snapshot;  // lists: the interfaces plugged in when taken
        int callsInProgress = 0;              // channels: reads or writes not yet returned
    };
    // Counts a read or write on a channel for as long as it is in progress.
    class CallInProgress {
      public:
        CallInProgress(SimBus& bus, NativeHandle channel);
        ~CallInProgress();
        CallInProgress(const CallInProgress&) = delete;
        CallInProgress& operator=(const CallInProgress&) = delete;

      private:
        SimBus& bus_;
        NativeHandle channel_;
    };

    SimInterface* FindInterface(std::string_view path) const;
    // Handles are numbered from 1 and never reused, so a closed one is always known as such.
    NativeHandle AddHandle(Handle handle);
    // The handle if it is open and of that kind; else null, counted as a bad use.
    Handle* Live(NativeHandle handle, HandleKind kind);
    // The device behind an open channel, while it is plugged in as it was at the open; else
    // null. Quiet: a channel whose bus was reset under a waiting call is no misuse.
    SimInterface* Reachable(NativeHandle channel);
    // Carries out the scheduled plug changes whose time has come.
    void ApplyDuePlugChanges();
    // When the device's next scheduled plug change is due on the bus clock; far away if none.
    std::int64_t NextPlugChangeNs(const SimInterface& device) const;
    // Waits until bus time `ns` or until the bus changes, whichever comes first.
    void WaitUntil(std::int64_t ns, std::unique_lock<std::mutex>& lock);

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    SimClock clock_;
    // Stable addresses: handles and waiting calls point at interfaces until the next reset.
    std::vector<std::unique_ptr<SimInterface>> interfaces_;
    std::map<NativeHandle, Handle> handles_;
    NativeHandle nextHandle_ = 1;
    Counters counters_;
    bool failEventCreation_ = false;
    std::string wireLog_;
};

}  // namespace quen::sim
