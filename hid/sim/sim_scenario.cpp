#include "hid/sim/sim_scenario.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <vector>

#include "hid/sim/sim_bus.h"

namespace quen::hid::sim {
namespace {

bool ParseNumber(const std::string& text, unsigned long max, unsigned long* out) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    const unsigned long value = std::strtoul(text.c_str(), &end, 0);
    if (*end != '\0' || value > max) {
        return false;
    }
    *out = value;
    return true;
}

bool ParseU16(const std::string& text, std::uint16_t* out) {
    unsigned long value = 0;
    if (!ParseNumber(text, 0xFFFF, &value)) {
        return false;
    }
    *out = static_cast<std::uint16_t>(value);
    return true;
}

bool ApplyInterfaceOption(const std::string& key, const std::string& value, InterfaceSpec* spec) {
    unsigned long number = 0;
    if (key == "vendor")
        return ParseU16(value, &spec->vendorId);
    if (key == "product")
        return ParseU16(value, &spec->productId);
    if (key == "page")
        return ParseU16(value, &spec->usagePage);
    if (key == "usage")
        return ParseU16(value, &spec->usage);
    if (key == "in")
        return ParseU16(value, &spec->inputReportLength);
    if (key == "out")
        return ParseU16(value, &spec->outputReportLength);
    if (key == "latency" && ParseNumber(value, 0xFFFFFFFFul, &number)) {
        spec->writeLatencyMs = static_cast<std::uint32_t>(number);
        return true;
    }
    if (key == "write") {
        if (value == "complete")
            spec->writeBehaviour = WriteBehaviour::Complete;
        else if (value == "never")
            spec->writeBehaviour = WriteBehaviour::NeverComplete;
        else if (value == "fail")
            spec->writeBehaviour = WriteBehaviour::FailAtOnce;
        else
            return false;
        return true;
    }
    if (value != "fail")
        return false;
    if (key == "open")
        spec->failChannelOpen = true;
    else if (key == "query")
        spec->failQueryOpen = true;
    else if (key == "attributes")
        spec->failAttributes = true;
    else if (key == "caps")
        spec->failCaps = true;
    else
        return false;
    return true;
}

bool ApplyLine(SimBus& bus, std::istringstream& words) {
    std::string verb;
    if (!(words >> verb) || verb[0] == '#') {
        return true;
    }
    std::string path;
    if (verb == "clock") {
        std::string mode;
        words >> mode;
        if (mode != "virtual" && mode != "real")
            return false;
        bus.Reset(mode == "real" ? ClockMode::Real : ClockMode::Virtual);
        return true;
    }
    if (verb == "wire") {
        std::string file;
        words >> file;
        bus.SetWireLog(file);
        return !file.empty();
    }
    if (!(words >> path)) {
        return false;
    }
    if (verb == "unplug") {
        bus.Unplug(path);
        return true;
    }
    if (verb == "interface") {
        InterfaceSpec spec;
        spec.path = path;
        for (std::string option; words >> option;) {
            const auto eq = option.find('=');
            if (eq == std::string::npos ||
                !ApplyInterfaceOption(option.substr(0, eq), option.substr(eq + 1), &spec)) {
                return false;
            }
        }
        bus.AddInterface(spec);
        return true;
    }
    if (verb == "report") {
        std::string at;
        unsigned long atMs = 0;
        if (!(words >> at) || at.rfind("at=", 0) != 0 ||
            !ParseNumber(at.substr(3), 0xFFFFFFFFul, &atMs)) {
            return false;
        }
        std::vector<std::uint8_t> bytes;
        for (std::string hex; words >> hex;) {
            unsigned long byte = 0;
            if (!ParseNumber("0x" + hex, 0xFF, &byte))
                return false;
            bytes.push_back(static_cast<std::uint8_t>(byte));
        }
        bus.QueueReport(path, atMs, std::move(bytes));
        return true;
    }
    return false;
}

}  // namespace

bool ApplyScenario(const std::string& text, std::string* error) {
    SimBus& bus = SimBus::Instance();
    bus.Reset();
    std::istringstream lines(text);
    int number = 0;
    for (std::string line; std::getline(lines, line);) {
        ++number;
        std::istringstream words(line);
        if (!ApplyLine(bus, words)) {
            if (error != nullptr) {
                *error = "line " + std::to_string(number) + ": " + line;
            }
            return false;
        }
    }
    return true;
}

void RefreshScenarioFromEnvironment() {
    static std::string applied;
    static bool everApplied = false;
    const char* file = std::getenv("QUENLINK_SIM_SCENARIO");
    if (file == nullptr || *file == '\0') {
        return;
    }
    std::FILE* in = std::fopen(file, "rb");
    if (in == nullptr) {
        return;
    }
    std::string text;
    char chunk[4096];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, in)) > 0;) {
        text.append(chunk, n);
    }
    std::fclose(in);
    if (everApplied && text == applied) {
        return;
    }
    std::string error;
    if (!ApplyScenario(text, &error)) {
        // A faulty scenario is a faulty test: say where, once, on the test's console.
        std::fprintf(stderr, "quenlink sim: cannot read %s: %s\n", file, error.c_str());
    }
    applied = text;
    everApplied = true;
}

}  // namespace quen::hid::sim
