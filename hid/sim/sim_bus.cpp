#include "hid/sim/sim_bus.h"

#include <algorithm>
#include <cstring>
#include <thread>

#include "hid/sim/wire_log.h"

namespace quen::hid::sim {
namespace {

// Per thread, as the seam asks; one bus per library, so nothing else needs to tell them apart.
thread_local OpenFailure lastOpenFailure = OpenFailure::None;

}  // namespace

void SimBus::Reset(ClockMode mode) {
    {
        std::lock_guard<SpinLock> lock(mutex_);
        mode_ = mode;
        virtualNowMs_ = 0;
        realEpoch_ = std::chrono::steady_clock::now();
        ++resets_;
        // Events belong to the process, not to the devices: a library's device object keeps the
        // ones it created for its whole life, across every bus the tests set up. Every other
        // handle from before the reset is stale from now on.
        handles_.CloseAllBut(HandleKind::Event);
        byPath_.clear();
        interfaces_.clear();
        counters_ = Counters{};
        failEventCreation_ = false;
        wireLog_.clear();
    }
    // A read waiting in real time learns that its device has gone.
    reportQueued_.notify_all();
}

void SimBus::PinRealEpoch(std::chrono::nanoseconds sinceSteadyEpoch) {
    {
        std::lock_guard<SpinLock> lock(mutex_);
        realEpoch_ = SteadyTime(std::chrono::duration_cast<SteadyTime::duration>(sinceSteadyEpoch));
    }
    // A read waiting in real time waits for a moment of the old epoch: it looks again.
    reportQueued_.notify_all();
}

void SimBus::AddInterface(const InterfaceSpec& spec) {
    std::lock_guard<SpinLock> lock(mutex_);
    interfaces_.push_back(std::make_unique<SimInterface>());
    SimInterface& added = *interfaces_.back();
    added.spec = spec;
    byPath_.emplace(added.spec.path, &added);
}

void SimBus::Update(std::string_view path, void (*change)(InterfaceSpec&)) {
    std::lock_guard<SpinLock> lock(mutex_);
    SimInterface* found = FindInterface(path);
    if (found == nullptr) {
        return;
    }
    change(found->spec);
    // The index holds views of the paths, and a change may have moved or replaced this one.
    IndexPaths();
}

void SimBus::SetWriteBehaviour(std::string_view path, WriteBehaviour behaviour,
                               std::uint32_t latencyMs) {
    std::lock_guard<SpinLock> lock(mutex_);
    if (SimInterface* found = FindInterface(path)) {
        found->spec.writeBehaviour = behaviour;
        found->spec.writeLatencyMs = latencyMs;
    }
}

void SimBus::QueueReport(std::string_view path, std::uint64_t atMs,
                         const std::vector<std::uint8_t>& bytes) {
    {
        std::lock_guard<SpinLock> lock(mutex_);
        SimInterface* found = FindInterface(path);
        if (found == nullptr) {
            return;
        }
        if (!found->reports.Push(atMs, bytes.data(), bytes.size())) {
            ++counters_.reportsDropped;
            return;
        }
    }
    reportQueued_.notify_all();
}

std::size_t SimBus::PendingReports(std::string_view path) const {
    std::lock_guard<SpinLock> lock(mutex_);
    const SimInterface* found = FindInterface(path);
    return found == nullptr ? 0 : found->reports.size();
}

void SimBus::Unplug(std::string_view path) {
    {
        std::lock_guard<SpinLock> lock(mutex_);
        if (SimInterface* found = FindInterface(path)) {
            found->plugged = false;
            ++found->plugGeneration;
            found->reports.Clear();
        }
    }
    reportQueued_.notify_all();
}

void SimBus::Replug(std::string_view path) {
    std::lock_guard<SpinLock> lock(mutex_);
    if (SimInterface* found = FindInterface(path)) {
        found->plugged = true;
    }
}

void SimBus::FailEventCreation(bool fail) {
    std::lock_guard<SpinLock> lock(mutex_);
    failEventCreation_ = fail;
}

void SimBus::SetWireLog(const std::string& file) {
    std::lock_guard<SpinLock> lock(mutex_);
    wireLog_ = file;
}

std::vector<WireRecord> SimBus::Wire(std::string_view path) const {
    std::lock_guard<SpinLock> lock(mutex_);
    std::vector<WireRecord> records;
    if (const SimInterface* found = FindInterface(path)) {
        for (std::size_t i = 0; i < found->wire.kept(); ++i) {
            const WrittenReport& written = found->wire.Kept(i);
            records.push_back(
                WireRecord{std::vector<std::uint8_t>(written.bytes, written.bytes + written.length),
                           written.outcome, written.atMs});
        }
    }
    return records;
}

std::uint64_t SimBus::WireTotal(std::string_view path) const {
    std::lock_guard<SpinLock> lock(mutex_);
    const SimInterface* found = FindInterface(path);
    return found == nullptr ? 0 : found->wire.total();
}

Counters SimBus::counters() const {
    std::lock_guard<SpinLock> lock(mutex_);
    return counters_;
}

HandleUse SimBus::handleUse() const {
    std::lock_guard<SpinLock> lock(mutex_);
    return HandleUse{handles_.live(), handles_.slots()};
}

std::uint64_t SimBus::NowMs() const {
    std::lock_guard<SpinLock> lock(mutex_);
    return NowLocked();
}

ClockMode SimBus::clockMode() const {
    std::lock_guard<SpinLock> lock(mutex_);
    return mode_;
}

// --- the platform side ---

InterfaceList* SimBus::OpenInterfaceList() {
    std::lock_guard<SpinLock> lock(mutex_);
    const NativeHandle list = handles_.Open(HandleKind::List, nullptr, 0);
    if (list == kInvalidHandle) {
        return nullptr;
    }
    std::vector<SimInterface*>& snapshot = handles_.Find(list)->snapshot;
    for (const auto& candidate : interfaces_) {
        if (candidate->plugged) {
            snapshot.push_back(candidate.get());
        }
    }
    ++counters_.listsOpened;
    return reinterpret_cast<InterfaceList*>(list);
}

PathStatus SimBus::InterfacePath(InterfaceList* list, std::uint32_t index, char* path,
                                 std::size_t capacity) {
    std::lock_guard<SpinLock> lock(mutex_);
    HandleEntry* entry = Live(reinterpret_cast<NativeHandle>(list), HandleKind::List);
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
    std::lock_guard<SpinLock> lock(mutex_);
    const auto handle = reinterpret_cast<NativeHandle>(list);
    if (Live(handle, HandleKind::List) != nullptr) {
        handles_.Close(handle);
        ++counters_.listsClosed;
    }
}

NativeHandle SimBus::OpenQueryHandle(const char* path) {
    std::lock_guard<SpinLock> lock(mutex_);
    SimInterface* found = FindInterface(path);
    if (found == nullptr || !found->plugged || found->spec.failQueryOpen) {
        return kInvalidHandle;
    }
    const NativeHandle query = handles_.Open(HandleKind::Query, found, found->plugGeneration);
    if (query != kInvalidHandle) {
        ++counters_.queryHandlesOpened;
    }
    return query;
}

bool SimBus::QueryAttributes(NativeHandle queryHandle, InterfaceAttributes* attributes) {
    std::lock_guard<SpinLock> lock(mutex_);
    HandleEntry* entry = Live(queryHandle, HandleKind::Query);
    ++counters_.attributeQueries;
    if (entry == nullptr || entry->target->spec.failAttributes) {
        return false;
    }
    attributes->vendorId = entry->target->spec.vendorId;
    attributes->productId = entry->target->spec.productId;
    return true;
}

bool SimBus::QueryCaps(NativeHandle queryHandle, InterfaceCaps* caps) {
    std::lock_guard<SpinLock> lock(mutex_);
    HandleEntry* entry = Live(queryHandle, HandleKind::Query);
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
    std::lock_guard<SpinLock> lock(mutex_);
    if (Live(queryHandle, HandleKind::Query) != nullptr) {
        handles_.Close(queryHandle);
        ++counters_.queryHandlesClosed;
    }
}

NativeHandle SimBus::OpenChannel(const char* path, ChannelKind kind) {
    std::lock_guard<SpinLock> lock(mutex_);
    SimInterface* found = FindInterface(path);
    if (found == nullptr || !found->plugged) {
        lastOpenFailure = OpenFailure::NotFound;
        return kInvalidHandle;
    }
    if (found->spec.failChannelOpen) {
        lastOpenFailure = OpenFailure::PermissionDenied;
        return kInvalidHandle;
    }
    const HandleKind handleKind =
        kind == ChannelKind::Read ? HandleKind::ReadChannel : HandleKind::WriteChannel;
    const NativeHandle channel = handles_.Open(handleKind, found, found->plugGeneration);
    if (channel == kInvalidHandle) {
        lastOpenFailure = OpenFailure::Other;
        return kInvalidHandle;
    }
    ++counters_.channelsOpened;
    lastOpenFailure = OpenFailure::None;
    return channel;
}

OpenFailure SimBus::LastOpenFailure() const {
    return lastOpenFailure;
}

void SimBus::CloseChannel(NativeHandle channel) {
    std::lock_guard<SpinLock> lock(mutex_);
    const HandleEntry* entry = handles_.Find(channel);
    if (entry == nullptr ||
        (entry->kind != HandleKind::ReadChannel && entry->kind != HandleKind::WriteChannel)) {
        ++counters_.badHandleUses;
        return;
    }
    handles_.Close(channel);
    ++counters_.channelsClosed;
}

NativeHandle SimBus::CreateCompletionEvent() {
    std::lock_guard<SpinLock> lock(mutex_);
    if (failEventCreation_) {
        return kNoEvent;
    }
    const NativeHandle event = handles_.Open(HandleKind::Event, nullptr, 0);
    if (event == kInvalidHandle) {
        return kNoEvent;
    }
    ++counters_.eventsCreated;
    return event;
}

IoOutcome SimBus::ReadInputReport(NativeHandle channel, NativeHandle event, std::uint8_t* buffer,
                                  std::uint32_t length, std::uint32_t timeoutMs) {
    std::unique_lock<SpinLock> lock(mutex_);
    ++counters_.reads;
    const Target target = ChannelTarget(channel, HandleKind::ReadChannel, event);
    if (target.device == nullptr) {
        return IoOutcome::Failed;  // a handle the caller should never have passed: counted
    }
    const std::uint64_t resets = resets_;
    const Deadline deadline = DeadlineAfter(timeoutMs);
    for (;;) {
        if (!Reachable(target, resets)) {
            // The device has gone (or the bus was reset under a waiting read). The caller still
            // waits its whole time-out, as on a real platform, so a loop that reads until it
            // gets data keeps its pace instead of spinning.
            WaitOut(deadline, lock);
            return IoOutcome::Failed;
        }
        const QueuedReport* next = target.device->reports.Front();
        if (next != nullptr && next->atMs <= deadline.busMs) {
            if (next->atMs > NowLocked()) {
                WaitForReport(next->atMs, lock);
                continue;  // in real time, the bus may have changed while this read waited
            }
            // Like a HID read: the whole report length arrives; a longer report is cut.
            const std::size_t n = std::min<std::size_t>(length, next->length);
            if (n > 0) {
                std::memcpy(buffer, next->bytes, n);
            }
            target.device->reports.Pop();
            return IoOutcome::Completed;
        }
        if (NowLocked() >= deadline.busMs) {
            ++counters_.cancels;
            return IoOutcome::TimedOut;
        }
        WaitForReport(deadline.busMs, lock);
    }
}

IoOutcome SimBus::WriteOutputReport(NativeHandle channel, NativeHandle event,
                                    const std::uint8_t* report, std::uint32_t length,
                                    std::uint32_t timeoutMs) {
    std::unique_lock<SpinLock> lock(mutex_);
    ++counters_.writes;
    const Target target = ChannelTarget(channel, HandleKind::WriteChannel, event);
    const std::uint64_t resets = resets_;
    if (!Reachable(target, resets) ||
        target.device->spec.writeBehaviour == WriteBehaviour::FailAtOnce) {
        return IoOutcome::Failed;
    }
    const InterfaceSpec& spec = target.device->spec;
    const bool completes =
        spec.writeBehaviour == WriteBehaviour::Complete && spec.writeLatencyMs <= timeoutMs;
    const std::uint64_t startMs = NowLocked();
    WaitOut(DeadlineAfter(completes ? spec.writeLatencyMs : timeoutMs), lock);
    IoOutcome outcome = IoOutcome::Completed;
    if (!completes) {
        ++counters_.cancels;
        outcome = IoOutcome::TimedOut;
    }
    // In real time the bus was unlocked while the write waited: a reset has taken its device.
    if (resets_ == resets) {
        target.device->wire.Record(report, length, outcome, startMs);
        if (!wireLog_.empty()) {
            AppendWireLine(wireLog_.c_str(), target.device->spec.path, outcome, report, length);
        }
    }
    return outcome;
}

// --- helpers ---

SimInterface* SimBus::FindInterface(std::string_view path) {
    const auto found = byPath_.find(path);
    return found == byPath_.end() ? nullptr : found->second;
}

const SimInterface* SimBus::FindInterface(std::string_view path) const {
    const auto found = byPath_.find(path);
    return found == byPath_.end() ? nullptr : found->second;
}

void SimBus::IndexPaths() {
    byPath_.clear();
    for (const auto& each : interfaces_) {
        byPath_.emplace(each->spec.path, each.get());
    }
}

HandleEntry* SimBus::Live(NativeHandle handle, HandleKind kind) {
    HandleEntry* entry = handles_.Find(handle);
    if (entry == nullptr || entry->kind != kind) {
        ++counters_.badHandleUses;
        return nullptr;
    }
    return entry;
}

// The device behind a usable channel and event; an empty target when either is not usable.
SimBus::Target SimBus::ChannelTarget(NativeHandle channel, HandleKind kind, NativeHandle event) {
    const HandleEntry* entry = Live(channel, kind);
    if (entry == nullptr || Live(event, HandleKind::Event) == nullptr) {
        return Target{};
    }
    return Target{entry->target, entry->plugGeneration};
}

// Whether the channel's device is still there: the bus was not reset and the device not
// unplugged since the channel was opened.
bool SimBus::Reachable(const Target& target, std::uint64_t resets) const {
    return target.device != nullptr && resets_ == resets && target.device->plugged &&
           target.device->plugGeneration == target.plugGeneration;
}

std::uint64_t SimBus::NowLocked() const {
    if (mode_ == ClockMode::Virtual) {
        return virtualNowMs_;
    }
    return BusMsAt(std::chrono::steady_clock::now());
}

std::uint64_t SimBus::BusMsAt(SteadyTime when) const {
    if (when <= realEpoch_) {
        return 0;  // an epoch pinned a little ahead
    }
    using namespace std::chrono;
    return static_cast<std::uint64_t>(duration_cast<milliseconds>(when - realEpoch_).count());
}

SimBus::Deadline SimBus::DeadlineAfter(std::uint64_t ms) const {
    if (mode_ == ClockMode::Virtual) {
        // No steady-clock reading: it would be the largest cost of a call that never waits.
        return Deadline{virtualNowMs_ + ms, SteadyTime{}, false};
    }
    // The real-time end counts from now to the microsecond, not from the bus's last whole ms.
    const SteadyTime now = std::chrono::steady_clock::now();
    return Deadline{BusMsAt(now) + ms, now + std::chrono::milliseconds(ms), true};
}

void SimBus::WaitForReport(std::uint64_t ms, std::unique_lock<SpinLock>& lock) {
    if (mode_ == ClockMode::Virtual) {
        virtualNowMs_ = std::max(virtualNowMs_, ms);
        return;
    }
    // Wakes early when another thread queues a report, unplugs or resets: the caller looks again.
    reportQueued_.wait_until(lock, realEpoch_ + std::chrono::milliseconds(ms));
}

void SimBus::WaitOut(const Deadline& deadline, std::unique_lock<SpinLock>& lock) {
    if (!deadline.real) {
        virtualNowMs_ = std::max(virtualNowMs_, deadline.busMs);
        return;
    }
    lock.unlock();
    // A steady-clock sleep may end a little early (Windows sleeps in whole timer ticks): the
    // time is checked again until it has really passed.
    while (std::chrono::steady_clock::now() < deadline.wake) {
        std::this_thread::sleep_until(deadline.wake);
    }
    lock.lock();
}

}  // namespace quen::hid::sim
