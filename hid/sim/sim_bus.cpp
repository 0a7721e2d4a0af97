#include "hid/sim/sim_bus.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iterator>

namespace quen::hid::sim {
namespace {

std::uint64_t SteadyMicros() {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace

SimBus& SimBus::Instance() {
    static SimBus bus;
    return bus;
}

void SimBus::Reset(ClockMode mode) {
    std::lock_guard<std::mutex> lock(mutex_);
    mode_ = mode;
    virtualNowMs_ = 0;
    realEpochUs_ = SteadyMicros();
    interfaces_.clear();
    // Events belong to the process, not to the devices: a library's device object keeps the
    // ones it created for its whole life, across every bus the tests set up.
    for (auto it = handles_.begin(); it != handles_.end();) {
        it = it->second.kind == HandleKind::Event ? std::next(it) : handles_.erase(it);
    }
    counters_ = Counters{};
    failEventCreation_ = false;
    wireLog_.clear();
    // Handle numbers keep growing across resets, so a handle kept from before a reset is
    // recognised as stale instead of aliasing a new one.
}

void SimBus::AddInterface(const InterfaceSpec& spec) {
    std::lock_guard<std::mutex> lock(mutex_);
    Interface added;
    added.spec = spec;
    interfaces_.push_back(std::move(added));
}

void SimBus::Update(const std::string& path, void (*change)(InterfaceSpec&)) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (Interface* found = FindInterface(path)) {
        change(found->spec);
    }
}

void SimBus::SetWriteBehaviour(const std::string& path, WriteBehaviour behaviour,
                               std::uint32_t latencyMs) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (Interface* found = FindInterface(path)) {
        found->spec.writeBehaviour = behaviour;
        found->spec.writeLatencyMs = latencyMs;
    }
}

void SimBus::QueueReport(const std::string& path, std::uint64_t atMs,
                         std::vector<std::uint8_t> bytes) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        Interface* found = FindInterface(path);
        if (found == nullptr) {
            return;
        }
        auto& reports = found->reports;
        // Stable in arrival order: reports queued for the same moment keep their order.
        auto at = std::upper_bound(reports.begin(), reports.end(), atMs,
                                   [](std::uint64_t t, const Report& r) { return t < r.atMs; });
        reports.insert(at, Report{atMs, std::move(bytes)});
    }
    reportQueued_.notify_all();
}

std::size_t SimBus::PendingReports(const std::string& path) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const Interface* found = FindInterface(path);
    return found == nullptr ? 0 : found->reports.size();
}

void SimBus::Unplug(const std::string& path) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (Interface* found = FindInterface(path)) {
            found->plugged = false;
            ++found->generation;
            found->reports.clear();
        }
    }
    reportQueued_.notify_all();
}

void SimBus::Replug(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (Interface* found = FindInterface(path)) {
        found->plugged = true;
    }
}

void SimBus::FailEventCreation(bool fail) {
    std::lock_guard<std::mutex> lock(mutex_);
    failEventCreation_ = fail;
}

void SimBus::SetWireLog(const std::string& file) {
    std::lock_guard<std::mutex> lock(mutex_);
    wireLog_ = file;
}

std::vector<WireRecord> SimBus::Wire(const std::string& path) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const Interface* found = FindInterface(path);
    return found == nullptr ? std::vector<WireRecord>{} : found->wire;
}

Counters SimBus::counters() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return counters_;
}

std::uint64_t SimBus::NowMs() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return NowLocked();
}

ClockMode SimBus::clockMode() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return mode_;
}

// --- the platform side ---

InterfaceList* SimBus::OpenList() {
    std::lock_guard<std::mutex> lock(mutex_);
    Handle list{HandleKind::List, 0, 0, true, {}};
    for (std::size_t i = 0; i < interfaces_.size(); ++i) {
        if (interfaces_[i].plugged) {
            list.snapshot.push_back(i);
        }
    }
    ++counters_.listsOpened;
    return reinterpret_cast<InterfaceList*>(NewHandle(std::move(list)));
}

PathStatus SimBus::ListPath(InterfaceList* list, std::uint32_t index, char* path,
                            std::size_t capacity) {
    std::lock_guard<std::mutex> lock(mutex_);
    Handle* h = Live(reinterpret_cast<NativeHandle>(list), HandleKind::List);
    if (h == nullptr || index >= h->snapshot.size()) {
        return PathStatus::End;
    }
    const std::string& name = interfaces_[h->snapshot[index]].spec.path;
    if (name.size() + 1 > capacity) {
        return PathStatus::Unusable;
    }
    std::memcpy(path, name.c_str(), name.size() + 1);
    return PathStatus::Ok;
}

void SimBus::CloseList(InterfaceList* list) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (Handle* h = Live(reinterpret_cast<NativeHandle>(list), HandleKind::List)) {
        h->open = false;
        ++counters_.listsClosed;
    }
}

NativeHandle SimBus::OpenQuery(const char* path) {
    std::lock_guard<std::mutex> lock(mutex_);
    Interface* found = FindInterface(path);
    if (found == nullptr || !found->plugged || found->spec.failQueryOpen) {
        return kInvalidHandle;
    }
    ++counters_.queryHandlesOpened;
    const auto index = static_cast<std::size_t>(found - interfaces_.data());
    return NewHandle(Handle{HandleKind::Query, index, found->generation, true, {}});
}

bool SimBus::Attributes(NativeHandle handle, InterfaceAttributes* attributes) {
    std::lock_guard<std::mutex> lock(mutex_);
    Handle* h = Live(handle, HandleKind::Query);
    ++counters_.attributeQueries;
    if (h == nullptr || interfaces_[h->interface].spec.failAttributes) {
        return false;
    }
    const InterfaceSpec& spec = interfaces_[h->interface].spec;
    attributes->vendorId = spec.vendorId;
    attributes->productId = spec.productId;
    return true;
}

bool SimBus::Caps(NativeHandle handle, InterfaceCaps* caps) {
    std::lock_guard<std::mutex> lock(mutex_);
    Handle* h = Live(handle, HandleKind::Query);
    ++counters_.capsQueries;
    if (h == nullptr || interfaces_[h->interface].spec.failCaps) {
        return false;
    }
    const InterfaceSpec& spec = interfaces_[h->interface].spec;
    caps->usage = spec.usage;
    caps->usagePage = spec.usagePage;
    caps->inputReportByteLength = spec.inputReportLength;
    caps->outputReportByteLength = spec.outputReportLength;
    return true;
}

void SimBus::CloseQuery(NativeHandle handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (Handle* h = Live(handle, HandleKind::Query)) {
        h->open = false;
        ++counters_.queryHandlesClosed;
    }
}

NativeHandle SimBus::OpenChannel(const char* path, ChannelKind kind) {
    std::lock_guard<std::mutex> lock(mutex_);
    Interface* found = FindInterface(path);
    if (found == nullptr || !found->plugged || found->spec.failChannelOpen) {
        return kInvalidHandle;
    }
    ++counters_.channelsOpened;
    const auto index = static_cast<std::size_t>(found - interfaces_.data());
    const HandleKind handleKind =
        kind == ChannelKind::Read ? HandleKind::ReadChannel : HandleKind::WriteChannel;
    return NewHandle(Handle{handleKind, index, found->generation, true, {}});
}

void SimBus::CloseChannel(NativeHandle handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = handles_.find(handle);
    const bool isChannel = it != handles_.end() && (it->second.kind == HandleKind::ReadChannel ||
                                                    it->second.kind == HandleKind::WriteChannel);
    if (!isChannel || !it->second.open) {
        ++counters_.badHandleUses;
        return;
    }
    it->second.open = false;
    ++counters_.channelsClosed;
}

NativeHandle SimBus::CreateEvent() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (failEventCreation_) {
        return kNoEvent;
    }
    ++counters_.eventsCreated;
    return NewHandle(Handle{HandleKind::Event, 0, 0, true, {}});
}

IoOutcome SimBus::Read(NativeHandle channel, NativeHandle event, std::uint8_t* buffer,
                       std::uint32_t length, std::uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    ++counters_.reads;
    const std::size_t index = [&] {
        Interface* target = ChannelTarget(channel, HandleKind::ReadChannel, event);
        return target == nullptr ? interfaces_.size()
                                 : static_cast<std::size_t>(target - interfaces_.data());
    }();
    if (index == interfaces_.size()) {
        return IoOutcome::Failed;
    }
    const std::uint32_t generation = interfaces_[index].generation;
    const std::uint64_t deadline = NowLocked() + timeoutMs;
    for (;;) {
        // In real time the bus is unlocked while a read waits, and a reset may have come.
        if (index >= interfaces_.size()) {
            return IoOutcome::Failed;
        }
        Interface& target = interfaces_[index];
        if (target.generation != generation) {
            return IoOutcome::Failed;  // unplugged while waiting
        }
        if (!target.reports.empty() && target.reports.front().atMs <= deadline) {
            const std::uint64_t arrival = target.reports.front().atMs;
            if (arrival > NowLocked()) {
                AdvanceTo(arrival, lock);
                continue;  // in real time, the world may have changed while we slept
            }
            Report report = std::move(target.reports.front());
            target.reports.erase(target.reports.begin());
            // Like a HID read: the whole report length arrives; a longer report is cut.
            const std::size_t n = std::min<std::size_t>(length, report.bytes.size());
            if (n > 0) {
                std::memcpy(buffer, report.bytes.data(), n);
            }
            return IoOutcome::Completed;
        }
        if (NowLocked() >= deadline) {
            ++counters_.cancels;
            return IoOutcome::TimedOut;
        }
        AdvanceTo(deadline, lock);
    }
}

IoOutcome SimBus::Write(NativeHandle channel, NativeHandle event, const std::uint8_t* report,
                        std::uint32_t length, std::uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    ++counters_.writes;
    Interface* target = ChannelTarget(channel, HandleKind::WriteChannel, event);
    if (target == nullptr || target->spec.writeBehaviour == WriteBehaviour::FailAtOnce) {
        return IoOutcome::Failed;
    }
    WireRecord record{std::vector<std::uint8_t>(report, report + length), IoOutcome::Completed,
                      NowLocked()};
    const std::string path = target->spec.path;
    const bool completes = target->spec.writeBehaviour == WriteBehaviour::Complete &&
                           target->spec.writeLatencyMs <= timeoutMs;
    const std::uint64_t start = NowLocked();
    if (completes) {
        AdvanceTo(start + target->spec.writeLatencyMs, lock);
    } else {
        AdvanceTo(start + timeoutMs, lock);
        ++counters_.cancels;
        record.outcome = IoOutcome::TimedOut;
    }
    LogWire(path, record);
    // Looked up again: in real time the bus was unlocked while the write waited.
    if ((target = FindInterface(path)) != nullptr) {
        target->wire.push_back(record);
    }
    return record.outcome;
}

// --- helpers ---

SimBus::Interface* SimBus::FindInterface(const std::string& path) {
    for (Interface& candidate : interfaces_) {
        if (candidate.spec.path == path) {
            return &candidate;
        }
    }
    return nullptr;
}

const SimBus::Interface* SimBus::FindInterface(const std::string& path) const {
    return const_cast<SimBus*>(this)->FindInterface(path);
}

SimBus::Handle* SimBus::Live(NativeHandle handle, HandleKind kind) {
    auto it = handles_.find(handle);
    if (it == handles_.end() || it->second.kind != kind || !it->second.open) {
        ++counters_.badHandleUses;
        return nullptr;
    }
    return &it->second;
}

// The interface behind a channel, or null when the channel or event is not usable or the
// device has gone since the channel was opened.
SimBus::Interface* SimBus::ChannelTarget(NativeHandle channel, HandleKind kind,
                                         NativeHandle event) {
    Handle* h = Live(channel, kind);
    if (h == nullptr || Live(event, HandleKind::Event) == nullptr) {
        return nullptr;
    }
    Interface& target = interfaces_[h->interface];
    if (!target.plugged || target.generation != h->generation) {
        return nullptr;
    }
    return &target;
}

NativeHandle SimBus::NewHandle(Handle handle) {
    const NativeHandle id = nextHandle_++;
    handles_.emplace(id, std::move(handle));
    return id;
}

std::uint64_t SimBus::NowLocked() const {
    if (mode_ == ClockMode::Virtual) {
        return virtualNowMs_;
    }
    return (SteadyMicros() - realEpochUs_) / 1000;
}

void SimBus::AdvanceTo(std::uint64_t ms, std::unique_lock<std::mutex>& lock) {
    if (mode_ == ClockMode::Virtual) {
        virtualNowMs_ = std::max(virtualNowMs_, ms);
        return;
    }
    const auto wake =
        std::chrono::steady_clock::time_point(std::chrono::microseconds(realEpochUs_ + ms * 1000));
    // Wakes early when another thread queues a report; the caller looks again.
    reportQueued_.wait_until(lock, wake);
}

void SimBus::LogWire(const std::string& path, const WireRecord& record) const {
    if (wireLog_.empty()) {
        return;
    }
    std::FILE* log = std::fopen(wireLog_.c_str(), "a");
    if (log == nullptr) {
        return;
    }
    std::fprintf(log, "%s %s", path.c_str(),
                 record.outcome == IoOutcome::Completed ? "completed" : "timed-out");
    for (std::uint8_t byte : record.bytes) {
        std::fprintf(log, " %02x", byte);
    }
    std::fprintf(log, "\n");
    std::fclose(log);
}

}  // namespace quen::hid::sim
