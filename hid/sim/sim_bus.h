// An in-process simulated HID bus behind the platform seam. Tests declare interfaces, queue input
// reports with arrival times, choose how writes end, unplug and replug devices, and read back
// what went on the wire and how many handles were opened and closed.
//
// Time runs on a virtual clock by default: a wait with a time-out advances the clock instead of
// sleeping, so a 6000 ms bound is checked exactly in microseconds. In real-clock mode (the demo)
// the bus sleeps, and reports queued from another thread wake a waiting read.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "hid/platform.h"

namespace quen::hid::sim {

enum class ClockMode { Virtual, Real };

enum class WriteBehaviour {
    Complete,       // the device takes the report after writeLatencyMs
    NeverComplete,  // the report goes out but is never acknowledged: the writer times out
    FailAtOnce,     // the platform refuses the write: nothing reaches the device
};

struct InterfaceSpec {
    std::string path;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t usagePage = 0;
    std::uint16_t usage = 0;
    std::uint16_t inputReportLength = 64;
    std::uint16_t outputReportLength = 64;
    bool failQueryOpen = false;
    bool failAttributes = false;
    bool failCaps = false;
    bool failChannelOpen = false;
    WriteBehaviour writeBehaviour = WriteBehaviour::Complete;
    std::uint32_t writeLatencyMs = 0;
};

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
    int badHandleUses = 0;  // a closed, unknown or wrong-kind handle passed in: always a fault

    int openQueryHandles() const { return queryHandlesOpened - queryHandlesClosed; }
    int openChannels() const { return channelsOpened - channelsClosed; }
};

class SimBus {
  public:
    static SimBus& Instance();

    // --- scripting, for tests and the scenario loader ---

    // Forgets every interface, report, record and count; the clock starts again at 0.
    void Reset(ClockMode mode = ClockMode::Virtual);
    // Appends an interface; enumeration order is the order of adding.
    void AddInterface(const InterfaceSpec& spec);
    // Changes a declared interface in place (enumeration order stays).
    void Update(const std::string& path, void (*change)(InterfaceSpec&));
    void SetWriteBehaviour(const std::string& path, WriteBehaviour behaviour,
                           std::uint32_t latencyMs = 0);
    // Queues an input report (byte 0 the report ID) arriving at atMs on the bus clock.
    void QueueReport(const std::string& path, std::uint64_t atMs, std::vector<std::uint8_t> bytes);
    std::size_t PendingReports(const std::string& path) const;
    // Unplugged interfaces leave the enumeration and their open channels fail from then on,
    // also after a replug: a replugged device needs a new open.
    void Unplug(const std::string& path);
    void Replug(const std::string& path);
    void FailEventCreation(bool fail);
    // Appends one line per write ("path hex bytes") to this file; empty: none.
    void SetWireLog(const std::string& file);

    std::vector<WireRecord> Wire(const std::string& path) const;
    Counters counters() const;
    std::uint64_t NowMs() const;
    ClockMode clockMode() const;

    // --- the platform side, called through the seam ---

    InterfaceList* OpenList();
    PathStatus ListPath(InterfaceList* list, std::uint32_t index, char* path, std::size_t capacity);
    void CloseList(InterfaceList* list);
    NativeHandle OpenQuery(const char* path);
    bool Attributes(NativeHandle handle, InterfaceAttributes* attributes);
    bool Caps(NativeHandle handle, InterfaceCaps* caps);
    void CloseQuery(NativeHandle handle);
    NativeHandle OpenChannel(const char* path, ChannelKind kind);
    void CloseChannel(NativeHandle handle);
    NativeHandle CreateEvent();
    IoOutcome Read(NativeHandle channel, NativeHandle event, std::uint8_t* buffer,
                   std::uint32_t length, std::uint32_t timeoutMs);
    IoOutcome Write(NativeHandle channel, NativeHandle event, const std::uint8_t* report,
                    std::uint32_t length, std::uint32_t timeoutMs);

  private:
    struct Report {
        std::uint64_t atMs;
        std::vector<std::uint8_t> bytes;
    };
    struct Interface {
        InterfaceSpec spec;
        bool plugged = true;
        std::uint32_t generation = 0;  // bumped by every unplug
        std::vector<Report> reports;   // in arrival order
        std::vector<WireRecord> wire;
    };
    enum class HandleKind { List, Query, ReadChannel, WriteChannel, Event };
    struct Handle {
        HandleKind kind;
        std::size_t interface;  // index into interfaces_, for queries and channels
        std::uint32_t generation;
        bool open;
        std::vector<std::size_t> snapshot;  // lists: the plugged interfaces when it was taken
    };

    Interface* FindInterface(const std::string& path);
    const Interface* FindInterface(const std::string& path) const;
    Handle* Live(NativeHandle handle, HandleKind kind);
    Interface* ChannelTarget(NativeHandle channel, HandleKind kind, NativeHandle event);
    NativeHandle NewHandle(Handle handle);
    std::uint64_t NowLocked() const;
    void AdvanceTo(std::uint64_t ms, std::unique_lock<std::mutex>& lock);
    void LogWire(const std::string& path, const WireRecord& record) const;

    mutable std::mutex mutex_;
    std::condition_variable reportQueued_;
    ClockMode mode_ = ClockMode::Virtual;
    std::uint64_t virtualNowMs_ = 0;
    std::uint64_t realEpochUs_ = 0;
    std::vector<Interface> interfaces_;
    std::map<NativeHandle, Handle> handles_;
    NativeHandle nextHandle_ = 1;
    Counters counters_;
    bool failEventCreation_ = false;
    std::string wireLog_;
};

}  // namespace quen::hid::sim
