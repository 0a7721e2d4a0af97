#include "sim/sim_scenario.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <sstream>
#include <vector>

#include "sim/sim_bus.h"

namespace quen::sim {
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

// Up to 2^63 - 1: a steady-clock reading in nanoseconds.
bool ParseU63(const std::string& text, unsigned long long* out) {
    if (text.empty() || text[0] < '0' || text[0] > '9') {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
    if (*end != '\0' || errno == ERANGE || value > 0x7FFFFFFFFFFFFFFFull) {
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
    if (key == "open" && (value == "denied" || value == "busy")) {
        spec->refuseOpen = value == "busy" ? OpenFailure::Busy : OpenFailure::PermissionDenied;
        return true;
    }
    if (value != "fail")
        return false;
    if (key == "open")
        spec->refuseOpen = OpenFailure::PermissionDenied;
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

// The next word as NAME=MS, MS a bus time in milliseconds.
bool ParseMsWord(std::istringstream& words, const char* name, unsigned long* ms) {
    std::string word;
    const std::size_t prefix = std::strlen(name);
    return (words >> word) && word.compare(0, prefix, name) == 0 &&
           ParseNumber(word.substr(prefix), 0xFFFFFFFFul, ms);
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
        std::string epoch;
        if (!(words >> epoch)) {
            return true;
        }
        unsigned long long ns = 0;
        if (mode != "real" || epoch.rfind("epoch-ns=", 0) != 0 || !ParseU63(epoch.substr(9), &ns))
            return false;
        bus.PinRealEpoch(std::chrono::nanoseconds(static_cast<std::int64_t>(ns)));
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
    if (verb == "reseat") {
        unsigned long atMs = 0;
        unsigned long awayMs = 0;
        if (!ParseMsWord(words, "at=", &atMs) || !ParseMsWord(words, "away=", &awayMs)) {
            return false;
        }
        bus.ScheduleReseat(path, atMs, awayMs);
        return true;
    }
    if (verb == "report") {
        unsigned long atMs = 0;
        if (!ParseMsWord(words, "at=", &atMs)) {
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

bool ReadWholeFile(const char* path, std::string* text) {
    std::FILE* in = std::fopen(path, "rb");
    if (in == nullptr) {
        return false;
    }
    char chunk[4096];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, in)) > 0;) {
        text->append(chunk, n);
    }
    std::fclose(in);
    return true;
}

// Coarser than any file system's modification times (FAT keeps 2 s).
constexpr std::chrono::seconds kTimestampGranularity{3};

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

void ScenarioFile::Refresh(const char* path) {
    namespace fs = std::filesystem;
    std::lock_guard<std::mutex> lock(mutex_);
    std::error_code error;
    const fs::path file(path);
    const std::uintmax_t size = fs::file_size(file, error);
    if (error) {
        return;
    }
    const fs::file_time_type modified = fs::last_write_time(file, error);
    if (error) {
        return;
    }
    if (applied_ && settled_ && size == size_ && modified == modified_ && path_ == path) {
        return;
    }
    std::string text;
    if (!ReadWholeFile(path, &text)) {
        return;
    }
    ++reads_;
    // A rewrite in the same tick as the one just read would keep this time: until the time is
    // older than any file system's timestamp granularity, the text decides.
    settled_ = fs::file_time_type::clock::now() - modified > kTimestampGranularity;
    size_ = size;
    modified_ = modified;
    path_ = path;
    if (applied_ && text == text_) {
        return;
    }
    std::string faulty;
    if (!ApplyScenario(text, &faulty)) {
        // A faulty scenario is a faulty test: say where, once, on the test's console.
        std::fprintf(stderr, "quenlink sim: cannot read %s: %s\n", path, faulty.c_str());
    }
    ++applications_;
    text_ = std::move(text);
    applied_ = true;
}

int ScenarioFile::reads() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return reads_;
}

int ScenarioFile::applications() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return applications_;
}

void RefreshScenarioFromEnvironment() {
    static ScenarioFile watch;
    const char* file = std::getenv("QUENLINK_SIM_SCENARIO");
    if (file != nullptr && *file != '\0') {
        watch.Refresh(file);
    }
}

}  // namespace quen::sim
