// The platform seam on the simulated bus: each operation is the bus's own. Before each
// enumeration the bus takes up the scenario file named by QUENLINK_SIM_SCENARIO, if there is
// one: that is how a JVM test or the demo sets up devices for a library built on this platform,
// without any entry point of its own.
#include "hid/platform.h"

#include "hid/deadline.h"
#include "sim/sim_bus.h"
#include "sim/sim_scenario.h"

namespace quen::hid::platform {

using quen::sim::SimBus;

InterfaceList* OpenInterfaceList() {
    quen::sim::RefreshScenarioFromEnvironment();
    return SimBus::Instance().OpenInterfaceList();
}

PathStatus InterfacePath(InterfaceList* list, std::uint32_t index, char* path,
                         std::size_t capacity) {
    return SimBus::Instance().InterfacePath(list, index, path, capacity);
}

void CloseInterfaceList(InterfaceList* list) {
    SimBus::Instance().CloseInterfaceList(list);
}

NativeHandle OpenQueryHandle(const char* path) {
    return SimBus::Instance().OpenQueryHandle(path);
}

bool QueryAttributes(NativeHandle queryHandle, InterfaceAttributes* attributes) {
    return SimBus::Instance().QueryAttributes(queryHandle, attributes);
}

bool QueryCaps(NativeHandle queryHandle, InterfaceCaps* caps) {
    return SimBus::Instance().QueryCaps(queryHandle, caps);
}

void CloseQueryHandle(NativeHandle queryHandle) {
    SimBus::Instance().CloseQueryHandle(queryHandle);
}

NativeHandle OpenChannel(const char* path, ChannelKind kind) {
    return SimBus::Instance().OpenChannel(path, kind);
}

OpenFailure LastOpenFailure() {
    return SimBus::Instance().LastOpenFailure();
}

void CloseChannel(NativeHandle channel) {
    SimBus::Instance().CloseChannel(channel);
}

NativeHandle CreateCompletionEvent() {
    return SimBus::Instance().CreateCompletionEvent();
}

IoOutcome ReadInputReport(NativeHandle channel, NativeHandle event, std::uint8_t* buffer,
                          std::uint32_t length, Deadline& deadline) {
    return SimBus::Instance().ReadInputReport(channel, event, buffer, length, deadline);
}

IoOutcome WriteOutputReport(NativeHandle channel, NativeHandle event, const std::uint8_t* report,
                            std::uint32_t length, Deadline& deadline) {
    return SimBus::Instance().WriteOutputReport(channel, event, report, length, deadline);
}

bool AccessHint(const char* path, char* text, std::size_t capacity) {
    return SimBus::Instance().AccessHint(path, text, capacity);
}

std::int64_t MonotonicNowNs() {
    return SimBus::Instance().clock().NowNs();
}

void SleepUntilNs(std::int64_t ns) {
    SimBus::Instance().clock().SleepUntil(ns);
}

}  // namespace quen::hid::platform
