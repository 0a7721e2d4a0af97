#include "sim/sim_bus.h"

#include <algorithm>
#include <limits>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "hid/deadline.h"

namespace quen::sim {
namespace {

// Per thread, as the seam asks; one bus per library, so nothing else needs to tell them apart.
thread_local OpenFailure lastOpenFailure = OpenFailure::None;

void AppendWireLine(const std::string& file, const std::string& path, IoOutcome outcome,
                    const std::vector<std::uint8_t>& bytes) {
    std::ofstream log(file, std::ios::app | std::ios::binary);
    log << path << (outcome == IoOutcome::Completed ? " completed" : " timed-out");
    for (const std::uint8_t byte : bytes) {
        char hex[4];
        std::snprintf(hex, sizeof hex, " %02x", byte);
        log << hex;
    }
    log << '\n';
}

}  // namespace

SimBus& SimBus::Instance() {
    static SimBus bus;
    return bus;
}

void SimBus::Reset(ClockMode mode) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        clock_.Reset(mode);
        // Events belong to the process, not to the devices: a library's device object keeps the
        // ones it created for its whole life, across every bus the tests set up. Every other
        // handle from before the reset is stale from now on.
        for (auto it = handles_.begin(); it != handles_.end();) {
            it = it->second.kind == HandleKind::Event ? std::next(it) : handles_.erase(it);
        }
        interfaces_.clear();
        counters_ = Counters{};
        failEventCreation_ = false;
        wireLog_.clear();
    }
    // A read waiting in real time learns that its device has gone.
    changed_.notify_all();
}

void SimBus::PinRealEpoch(std::chrono::nanoseconds sinceSteadyEpoch) {
    clock_.PinRealEpoch(sinceSteadyEpoch);
    // A read waiting in real time waits for a moment of the old epoch: it looks again.
    changed_.notify_all();
}

void SimBus::AddInterface(const InterfaceSpec& spec) {
    std::lock_guard<std::mutex> lock(mutex_);
    interfaces_.push_back(std::make_unique<SimInterface>());
    interfaces_.back()->spec = spec;
}

void SimBus::Update(std::string_view path, void (*change)(InterfaceSpec&)) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (SimInterface* found = FindInterface(path)) {
        change(found->spec);
    }
}

void SimBus::SetWriteBehaviour(std::string_view path, WriteBehaviour behaviour,
                               std::uint32_t latencyMs) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (SimInterface* found = FindInterface(path)) {
        found->spec.writeBehaviour = behaviour;
        found->spec.writeLatencyMs = latencyMs;
    }
}

void SimBus::QueueReport(std::string_view path, std::uint64_t atMs,
                         const std::vector<std::uint8_t>& bytes) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        SimInterface* found = FindInterface(path);
        if (found == nullptr) {
            return;
        }
        auto& reports = found->reports;
        const auto later = std::upper_bound(
            reports.begin(), reports.end(), atMs,
            [](std::uint64_t at, const QueuedReport& queued) { return at < queued.atMs; });
        reports.insert(later, QueuedReport{atMs, bytes});
    }
    changed_.notify_all();
}

std::size_t SimBus::PendingReports(std::string_view path) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const SimInterface* found = FindInterface(path);
    return found == nullptr ? 0 : found->reports.size();
}

void SimBus::Unplug(std::string_view path) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (SimInterface* found = FindInterface(path)) {
            found->plugged = false;
            ++found->plugGeneration;
            found->reports.clear();
        }
    }
    changed_.notify_all();
}

void SimBus::Replug(std::string_view path) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (SimInterface* found = FindInterface(path)) {
        found->plugged = true;
    }
}

void SimBus::ScheduleReseat(std::string_view path, std::uint64_t atMs, std::uint64_t awayMs) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (SimInterface* found = FindInterface(path)) {
            found->plugChanges.push_back(PlugChange{atMs, false});
            found->plugChanges.push_back(PlugChange{atMs + awayMs, true});
        }
    }
    changed_.notify_all();
}

void SimBus::ApplyDuePlugChanges() {
    const std::int64_t now = clock_.NowNs();
    for (const auto& device : interfaces_) {
        auto& changes = device->plugChanges;
        while (!changes.empty() && clock_.DueNs(changes.front().atMs) <= now) {
            if (!changes.front().plugged && device->plugged) {
                device->plugged = false;
                ++device->plugGeneration;
                while (!device->reports.empty() &&
                       clock_.DueNs(device->reports.front().atMs) <= now) {
                    device->reports.pop_front();
                }
            } else if (changes.front().plugged) {
                device->plugged = true;
            }
            changes.pop_front();
        }
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

std::vector<WireRecord> SimBus::Wire(std::string_view path) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const SimInterface* found = FindInterface(path);
    return found == nullptr ? std::vector<WireRecord>{}
                            : std::vector<WireRecord>(found->wire.begin(), found->wire.end());
}

std::uint64_t SimBus::WireTotal(std::string_view path) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const SimInterface* found = FindInterface(path);
    return found == nullptr ? 0 : found->wireTotal;
}

Counters SimBus::counters() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return counters_;
}

std::size_t SimBus::liveHandles() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return handles_.size();
}

std::uint64_t SimBus::NowMs() const {
    return clock_.BusMs();
}

ClockMode SimBus::clockMode() const {
    return clock_.mode();
}

// --- the platform side ---

InterfaceList* SimBus::OpenInterfaceList() {
    std::lock_guard<std::mutex> lock(mutex_);
    ApplyDuePlugChanges();
    Handle list{HandleKind::List};
    for (const auto& candidate : interfaces_) {
        if (candidate->plugged) {
            list.snapshot.push_back(candidate.get());
        }
    }
    ++counters_.listsOpened;
    return reinterpret_cast<InterfaceList*>(AddHandle(std::move(list)));
}

PathStatus SimBus::InterfacePath(InterfaceList* list, std::uint32_t index, char* path,
                                 std::size_t capacity) {
    std::lock_guard<std::mutex> lock(mutex_);
    const Handle* entry = Live(reinterpret_cast<NativeHandle>(list), HandleKind::List);
    if (entry == nullptr || index >= entry->snapshot.size()) {
        return PathStatus::End;
    }
    const std::string& name = entry->snapshot[index]->spec.path;
    if (name.size() + 1 > capacity) {
        return PathStatus::Unusable;
    }
    std::memcpy(path, name.c_str(), name.size() + 1);
    return PathStatus::Ok;
}

void SimBus::CloseInterfaceList(InterfaceList* list) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto handle = reinterpret_cast<NativeHandle>(list);
    if (Live(handle, HandleKind::List) != nullptr) {
        handles_.erase(handle);
        ++counters_.listsClosed;
    }
}

NativeHandle SimBus::OpenQueryHandle(const char* path) {
    std::lock_guard<std::mutex> lock(mutex_);
    SimInterface* found = FindInterface(path);
    if (found == nullptr || !found->plugged || found->spec.failQueryOpen) {
        return kInvalidHandle;
    }
    ++counters_.queryHandlesOpened;
    return AddHandle(Handle{HandleKind::Query, found, found->plugGeneration});
}

bool SimBus::QueryAttributes(NativeHandle queryHandle, InterfaceAttributes* attributes) {
    std::lock_guard<std::mutex> lock(mutex_);
    const Handle* entry = Live(queryHandle, HandleKind::Query);
    ++counters_.attributeQueries;
    if (entry == nullptr || entry->target->spec.failAttributes) {
        return false;
    }
    attributes->vendorId = entry->target->spec.vendorId;
    attributes->productId = entry->target->spec.productId;
    return true;
}

bool SimBus::QueryCaps(NativeHandle queryHandle, InterfaceCaps* caps) {
    std::lock_guard<std::mutex> lock(mutex_);
    const Handle* entry = Live(queryHandle, HandleKind::Query);
    ++counters_.capsQueries;
    if (entry == nullptr || entry->target->spec.failCaps) {
        return false;
    }
    const InterfaceSpec& spec = entry->target->spec;
    caps->usage = spec.usage;
    caps->usagePage = spec.usagePage;
    caps->inputReportByteLength = spec.inputReportLength;
    caps->outputReportByteLength = spec.outputReportLength;
    return true;
}

void SimBus::CloseQueryHandle(NativeHandle queryHandle) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (Live(queryHandle, HandleKind::Query) != nullptr) {
        handles_.erase(queryHandle);
        ++counters_.queryHandlesClosed;
    }
}

NativeHandle SimBus::OpenChannel(const char* path, ChannelKind kind) {
    std::lock_guard<std::mutex> lock(mutex_);
    ApplyDuePlugChanges();
    SimInterface* found = FindInterface(path);
    if (found == nullptr || !found->plugged) {
        lastOpenFailure = OpenFailure::NotFound;
        return kInvalidHandle;
    }
    if (found->spec.refuseOpen != OpenFailure::None) {
        lastOpenFailure = found->spec.refuseOpen;
        return kInvalidHandle;
    }
    ++counters_.channelsOpened;
    lastOpenFailure = OpenFailure::None;
    const HandleKind handleKind =
        kind == ChannelKind::Read ? HandleKind::ReadChannel : HandleKind::WriteChannel;
    return AddHandle(Handle{handleKind, found, found->plugGeneration});
}

OpenFailure SimBus::LastOpenFailure() const {
    return lastOpenFailure;
}

bool SimBus::AccessHint(const char* path, char* text, std::size_t capacity) {
    std::lock_guard<std::mutex> lock(mutex_);
    const SimInterface* found = FindInterface(path);
    const bool denied = found != nullptr && found->spec.refuseOpen == OpenFailure::PermissionDenied;
    std::snprintf(text, capacity, "%s%s", denied ? "give this user access to " : "",
                  denied ? path : "");
    return denied;
}

void SimBus::CloseChannel(NativeHandle channel) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = handles_.find(channel);
    if (found == handles_.end() || (found->second.kind != HandleKind::ReadChannel &&
                                    found->second.kind != HandleKind::WriteChannel)) {
        ++counters_.badHandleUses;
        return;
    }
    if (found->second.callsInProgress > 0) {
        ++counters_.badHandleUses;  // closed under a read or write
    }
    handles_.erase(found);
    ++counters_.channelsClosed;
}

NativeHandle SimBus::CreateCompletionEvent() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (failEventCreation_) {
        return kNoEvent;
    }
    ++counters_.eventsCreated;
    return AddHandle(Handle{HandleKind::Event});
}

IoOutcome SimBus::ReadInputReport(NativeHandle channel, NativeHandle event, std::uint8_t* buffer,
                                  std::uint32_t length, Deadline& deadline) {
    std::unique_lock<std::mutex> lock(mutex_);
    ++counters_.reads;
    if (Live(channel, HandleKind::ReadChannel) == nullptr ||
        Live(event, HandleKind::Event) == nullptr) {
        return IoOutcome::Failed;  // a handle the caller should never have passed: counted
    }
    const CallInProgress inProgress(*this, channel);
    for (;;) {
        SimInterface* device = Reachable(channel);
        if (device == nullptr) {
            return IoOutcome::Gone;  // unplugged, or the bus was reset under a waiting read
        }
        if (!device->reports.empty()) {
            const QueuedReport& next = device->reports.front();
            const std::int64_t dueNs = clock_.DueNs(next.atMs);
            if (dueNs <= clock_.NowNs()) {
                // Like a HID read: the whole report length arrives, zeros past a shorter report;
                // a longer report is cut.
                const std::size_t n = std::min<std::size_t>(length, next.bytes.size());
                std::copy_n(next.bytes.begin(), n, buffer);
                std::fill(buffer + n, buffer + length, std::uint8_t{0});
                device->reports.pop_front();
                return IoOutcome::Completed;
            }
            if (dueNs <= deadline.EndNs()) {
                WaitUntil(std::min(dueNs, NextPlugChangeNs(*device)), lock);
                continue;  // in real time, the bus may have changed while this read waited
            }
        }
        if (deadline.Expired()) {
            ++counters_.cancels;
            return IoOutcome::TimedOut;
        }
        WaitUntil(std::min(deadline.EndNs(), NextPlugChangeNs(*device)), lock);
    }
}

IoOutcome SimBus::WriteOutputReport(NativeHandle channel, NativeHandle event,
                                    const std::uint8_t* report, std::uint32_t length,
                                    Deadline& writeDeadline) {
    std::unique_lock<std::mutex> lock(mutex_);
    ++counters_.writes;
    if (Live(channel, HandleKind::WriteChannel) == nullptr ||
        Live(event, HandleKind::Event) == nullptr) {
        return IoOutcome::Failed;  // a handle the caller should never have passed: counted
    }
    const CallInProgress inProgress(*this, channel);
    SimInterface* device = Reachable(channel);
    if (device == nullptr) {
        return IoOutcome::Gone;  // refused before anything went out
    }
    if (device->spec.writeBehaviour == WriteBehaviour::FailAtOnce) {
        return IoOutcome::Failed;
    }
    const InterfaceSpec& spec = device->spec;
    const std::uint32_t timeoutMs = writeDeadline.RemainingMs();
    const bool completes =
        spec.writeBehaviour == WriteBehaviour::Complete && spec.writeLatencyMs <= timeoutMs;
    Deadline deadline(completes ? spec.writeLatencyMs : timeoutMs);
    WireRecord record{std::vector<std::uint8_t>(report, report + length),
                      completes ? IoOutcome::Completed : IoOutcome::TimedOut, NowMs()};
    if (!completes) {
        ++counters_.cancels;
    }
    // The write waits its whole time, whatever happens on the bus meanwhile.
    lock.unlock();
    deadline.SleepOut();
    lock.lock();
    // In real time the bus was unlocked while the write waited: a reset has taken its channel.
    if (handles_.count(channel) != 0) {
        if (!wireLog_.empty()) {
            AppendWireLine(wireLog_, device->spec.path, record.outcome, record.bytes);
        }
        device->wire.push_back(record);
        if (device->wire.size() > SimInterface::kWritesKept) {
            device->wire.pop_front();
        }
        ++device->wireTotal;
    }
    return record.outcome;
}

// --- helpers ---

// Both run with the bus locked.
SimBus::CallInProgress::CallInProgress(SimBus& bus, NativeHandle channel)
    : bus_(bus), channel_(channel) {
    ++bus_.handles_.at(channel_).callsInProgress;
}

SimBus::CallInProgress::~CallInProgress() {
    const auto found = bus_.handles_.find(channel_);
    if (found != bus_.handles_.end()) {
        --found->second.callsInProgress;
    }
}

SimInterface* SimBus::FindInterface(std::string_view path) const {
    for (const auto& each : interfaces_) {
        if (each->spec.path == path) {
            return each.get();
        }
    }
    return nullptr;
}

NativeHandle SimBus::AddHandle(Handle handle) {
    const NativeHandle id = nextHandle_++;
    handles_.emplace(id, std::move(handle));
    return id;
}

SimBus::Handle* SimBus::Live(NativeHandle handle, HandleKind kind) {
    const auto found = handles_.find(handle);
    if (found == handles_.end() || found->second.kind != kind) {
        ++counters_.badHandleUses;
        return nullptr;
    }
    return &found->second;
}

std::int64_t SimBus::NextPlugChangeNs(const SimInterface& device) const {
    return device.plugChanges.empty() ? std::numeric_limits<std::int64_t>::max()
                                      : clock_.DueNs(device.plugChanges.front().atMs);
}

SimInterface* SimBus::Reachable(NativeHandle channel) {
    ApplyDuePlugChanges();
    const auto found = handles_.find(channel);
    if (found == handles_.end()) {
        return nullptr;
    }
    SimInterface* device = found->second.target;
    return device->plugged && device->plugGeneration == found->second.plugGeneration ? device
                                                                                     : nullptr;
}

void SimBus::WaitUntil(std::int64_t ns, std::unique_lock<std::mutex>& lock) {
    if (clock_.mode() == ClockMode::Virtual) {
        clock_.AdvanceTo(ns);
        return;
    }
    // Wakes early when another thread queues a report, unplugs or resets: the caller looks again.
    changed_.wait_until(lock, clock_.SteadyAt(ns));
}

}  // namespace quen::sim
