#include "kernel/shift_run.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <sstream>
#include <thread>

#include "bridge/device_ids.h"
#include "kernel/hex_bytes.h"
#include "kernel/shift_account.h"
#include "kernel/usb_gadget.h"
#include "support/report_descriptors.h"

namespace quen::test::shift {
namespace {

using std::chrono::milliseconds;

Ns Now() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void SleepMs(long ms) {
    std::this_thread::sleep_for(milliseconds(ms));
}

// A scanner report as it goes on the wire (no ID byte): L, three header bytes, the continuation,
// the data; zeros to the report's length.
std::vector<std::uint8_t> ScanReport(const std::string& data, bool more, std::uint16_t length) {
    std::vector<std::uint8_t> report(length, 0);
    report[0] = static_cast<std::uint8_t>(5 + data.size());
    report[4] = more ? 1 : 0;
    std::copy(data.begin(), data.end(), report.begin() + 5);
    return report;
}

// Product IDs of their own: Wine may miss a device plugged in under the IDs of one another test
// unplugged just before.
constexpr std::uint16_t kScannerProduct = 0x0110;
constexpr std::uint16_t kScaleProduct = 0x0210;
constexpr std::uint16_t kForeignVendor = 0x1A2B;
// How long the device side waits for a scan or a weight block sent to be read before it goes on
// (one lost where the accounting allows costs this much), and for the application's answer to a
// request (none ends the shift); the VM runs under emulation on a shared machine.
constexpr long kPromptMs = 3000;
constexpr long kAnswerMs = 15000;
// Evidence that the library has the replugged scanner open again: the first command on it.
// Under Wine a replugged device is seen some 6 s after its node appears.
constexpr long kRecoveryLimitMs = 30000;
// The application writes a command every 100 ms: left unread this long, the scanner's queue of
// four is full and a write waits on the wire.
constexpr long kStallMs = 700;

class ShiftRun {
  public:
    ShiftRun(int connection, const Size& size)
        : link_(connection), plan_(MakePlan(size)), random_(size.seed ^ 0x5EEDull) {
        device_.scans.resize(plan_.scans.size());
    }

    bool Run(std::string& pending) {
        std::thread listener([&] { Listen(pending); });
        if (Start()) {
            for (const Event& event : plan_.events) {
                if (!Do(event)) {
                    break;
                }
            }
            Finish();
        }
        stop_ = true;
        if (weigher_.joinable()) {
            weigher_.join();
        }
        if (!scaleError_.empty()) {
            device_.errors.push_back(scaleError_);
        }
        const Verdict verdict = Account(plan_, device_, app_);
        for (const std::string& line : verdict.lines) {
            std::printf("shift: %s\n", line.c_str());
            Say("report " + line);
        }
        std::fflush(stdout);
        Say(verdict.pass ? "end pass" : "end fail");
        listener.join();
        pending = leftover_;
        return verdict.pass;
    }

  private:
    // --- the application ---

    void Say(const std::string& line) {
        const std::string text = line + "\n";
        if (write(link_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
            Lock lock(mutex_);
            gone_ = true;
        }
    }

    // Reads the application's lines into app_ until it has finished or hung up.
    void Listen(std::string pending) {
        char chunk[65536];
        for (;;) {
            for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
                const std::string line = pending.substr(0, end);
                pending.erase(0, end + 1);
                Lock lock(mutex_);
                Take(line);
                changed_.notify_all();
                if (finished_) {
                    leftover_ = pending;
                    return;
                }
            }
            const ssize_t got = read(link_, chunk, sizeof chunk);
            if (got <= 0) {
                Lock lock(mutex_);
                gone_ = true;
                changed_.notify_all();
                return;
            }
            pending.append(chunk, static_cast<std::size_t>(got));
        }
    }

    void Take(const std::string& line) {
        std::istringstream words(line);
        std::string verb;
        words >> verb;
        std::string hex;
        std::vector<std::uint8_t> bytes;
        AppLog::Read read;
        if (verb == "scan" && words >> read.at >> read.mode >> hex && ParseHex(hex, &bytes)) {
            read.bytes.assign(bytes.begin(), bytes.end());
            const std::size_t skip = read.mode == 1 ? 0 : 6;
            if (read.bytes.size() > skip) {
                seqRead_ = std::max(seqRead_, ScanSeq(read.bytes.substr(skip, kScanHeader)));
            }
            app_.scans.push_back(read);
        } else if (verb == "weight" && words >> read.at >> hex && ParseHex(hex, &bytes)) {
            read.bytes.assign(bytes.begin(), bytes.end());
            int block = 0, index = 0, count = 0;
            const std::size_t last = bytes.size() >= 64 ? bytes.size() - 64 : 0;
            if (std::sscanf(read.bytes.c_str() + last + 1, "W%6d:%2d/%2d:", &block, &index,
                            &count) == 3 &&
                index + 1 == count) {
                blocksRead_ = std::max(blocksRead_, block + 1);
            }
            app_.weights.push_back(read);
        } else if (verb == "wrote") {
            AppLog::Write write;
            words >> write.seq >> write.taken >> write.start >> write.end;
            app_.writes.push_back(write);
        } else if (verb == "sample") {
            AppLog::Sample sample;
            sample.at = Now();
            words >> sample.descriptors >> sample.threads >> sample.residentKb >> sample.cpu >>
                sample.scannerCpu >> sample.quickNulls;
            app_.samples.push_back(sample);
        } else if (verb == "pong") {
            Ns clock = 0;
            words >> clock;
            pongs_.push_back({clock, Now()});
        } else if (verb == "mode") {
            words >> mode_;
        } else if (verb == "cycled" || verb == "finished") {
            std::string state;
            std::getline(words >> std::ws, state);
            app_.states.push_back(state);
            ++cycles_;
            finished_ = verb == "finished";
        } else if (verb == "go") {
            go_ = true;
        }
    }

    using Lock = std::unique_lock<std::mutex>;

    // Waits until `done` holds, taking the scanner's commands meanwhile so that no write waits
    // on the wire for want of a reader. False after timeoutMs, or when the application has gone.
    template <typename Done>
    bool Await(long timeoutMs, Done done) {
        const Ns end = Now() + timeoutMs * 1000000;
        for (;;) {
            TakeCommands();
            Lock lock(mutex_);
            if (done()) {
                return true;
            }
            if (gone_ || Now() > end) {
                return false;
            }
            changed_.wait_for(lock, milliseconds(2));
        }
    }

    // Tells the application and waits for its answer; a missing answer ends the shift.
    template <typename Done>
    bool Ask(const std::string& line, long timeoutMs, Done done) {
        Say(line);
        if (!Await(timeoutMs, done)) {
            device_.errors.push_back("no answer to '" + line + "'");
            return false;
        }
        return true;
    }

    // Every scan sent whole has been read, and every weight block: nothing is in flight.
    bool Quiet() { return seqRead_ >= lastWhole_ && blocksRead_ >= blocksSent_; }

    bool TakeSample() {
        std::size_t taken = 0;
        {
            Lock lock(mutex_);
            taken = app_.samples.size();
        }
        return Ask("sample", kAnswerMs, [&] { return app_.samples.size() > taken; });
    }

    // The application's clock against ours. The clock it sends back was read between our ping
    // and its answer, so each ping bounds the offset on both sides; 30 of them narrow it to where
    // all agree. (Java's clock in the VM is ours: the offset comes out near 0.)
    bool Calibrate() {
        Ns low = INT64_MIN;
        Ns high = INT64_MAX;
        for (std::size_t i = 0; i < 30; ++i) {
            const Ns sent = Now();
            if (!Ask("ping", kAnswerMs, [&] { return pongs_.size() > i; })) {
                return false;
            }
            Lock lock(mutex_);
            const auto [clock, at] = pongs_[i];
            low = std::max(low, clock - at);
            high = std::min(high, clock - sent);
        }
        app_.offset = low / 2 + high / 2;
        app_.offsetError = std::abs(high - low) / 2;  // low > high: the clocks drifted apart
        return true;
    }

    // --- the devices ---

    bool Start() {
        const bool plugged =
            scanner_.Create({"Quen scanner", bridge::kMakerVendorId, kScannerProduct,
                             MakerDescriptor(bridge::kScannerUsage, 64, 64)}) &&
            !scanner_.WaitForHidraw().empty() &&
            scale_.Create({"Quen scale", bridge::kMakerVendorId, kScaleProduct,
                           MakerDescriptor(bridge::kScaleUsage, 64, 64)}) &&
            !scale_.WaitForHidraw().empty();
        if (!plugged) {
            device_.errors.push_back(
                "cannot plug the scanner and the scale in: " + scanner_.error() + scale_.error());
            return false;
        }
        // Opening may wait for udev to give the till's user the nodes.
        if (!Ask("ready", 60000, [&] { return go_; }) || !Calibrate()) {
            return false;
        }
        const std::size_t before = device_.commands.size();
        if (!Await(kRecoveryLimitMs, [&] { return device_.commands.size() > before; })) {
            device_.errors.push_back("no command reached the scanner after the open");
            return false;
        }
        if (!TakeSample()) {
            return false;
        }
        weigher_ = std::thread([&] { Weigh(); });
        return true;
    }

    void Finish() {
        {
            std::lock_guard<std::mutex> turn(scaleTurn_);
            Await(kPromptMs, [&] { return Quiet(); });
            TakeSample();
            stop_ = true;
        }
        weigher_.join();
        Ask("finish", 60000, [&] { return finished_; });
    }

    bool Do(const Event& event) {
        switch (event.step) {
            case Step::Scan:
                if (event.seq > 0 && event.seq % 1000 == 0) {
                    // A line now and then, for whoever watches a long shift's console.
                    std::printf("shift progress %d scans\n", event.seq);
                    std::fflush(stdout);
                }
                return SendScan(event);
            case Step::Reseat:
            case Step::ReseatDuringWrite:
            case Step::Flash:
                return Reseat(event);
            case Step::ForeignPlug:
                foreignDue_ = true;
                return true;
            case Step::ForeignUnplug:
                if (foreignPlugged_) {
                    foreign_.Unplug();
                    foreignPlugged_ = false;
                }
                return true;
            case Step::Cycle: {
                std::lock_guard<std::mutex> turn(scaleTurn_);
                Await(kPromptMs, [&] { return Quiet(); });
                const int cycles = cycles_;
                Note("cycle");
                const bool cycled = Ask("cycle", 60000, [&] { return cycles_ > cycles; });
                Note("cycled");
                return cycled;
            }
            case Step::Mode:
                Await(kPromptMs, [&] { return Quiet(); });
                Note("mode switch");
                return Ask("mode " + std::to_string(event.segmented ? 1 : 0), kAnswerMs,
                           [&] { return mode_ == (event.segmented ? 1 : 0); });
            case Step::Sample:
                return TakeSample();
        }
        return true;
    }

    void TakeCommands() {
        std::vector<std::uint8_t> report;
        while (scanner_.ReceiveOutput(report, milliseconds(0))) {
            device_.commands.push_back(report);
        }
    }

    // False when the host stopped taking the scanner's reports: the library lost its node.
    bool SendScan(const Event& event) {
        const auto seq = static_cast<std::size_t>(event.seq);
        const Scan& scan = plan_.scans[seq];
        const std::string data = ScanData(plan_.size.seed, event.seq, scan.length);
        // One scan at a time, as a cashier scans: never more queued than a node holds.
        Await(kPromptMs, [&] { return seqRead_ >= lastWhole_; });
        SleepMs(random_.Between(0, 20));
        if (foreignPlugged_ && foreign_.AwaitTaken(milliseconds(0))) {
            // Sent now and then; it reaches the application only through a library that opened
            // the wrong device.
            foreign_.SendInput(ScanReport("F" + data.substr(1, 20), false, 64));
            ++device_.foreignSent;
        }
        DeviceLog::SentScan& sent = device_.scans[seq];
        sent.sent = true;
        const std::size_t reports =
            event.cutAfter >= 0 ? static_cast<std::size_t>(event.cutAfter) : scan.chunks.size();
        std::size_t at = 0;
        for (std::size_t i = 0; i < reports; ++i) {
            const auto chunk = static_cast<std::size_t>(scan.chunks[i]);
            const bool more = i + 1 < scan.chunks.size();
            sent.lastReportAt = Now();
            if (!scanner_.SendInput(ScanReport(data.substr(at, chunk), more, scan.reportLength))) {
                device_.errors.push_back("scan " + std::to_string(event.seq) + ": " +
                                         scanner_.error());
                return false;
            }
            at += chunk;
            TakeCommands();
        }
        // Also the part of a cut message reaches the host before what cuts it: its tail would
        // otherwise reach the channels of the session after a Close and Open, which cannot tell
        // a message's first report from a later one.
        const bool taken = scanner_.AwaitTaken(milliseconds(2000));
        sent.takenAt = Now();
        if (event.cutAfter < 0) {
            sent.complete = taken;
            if (!sent.complete) {
                device_.errors.push_back("scan " + std::to_string(event.seq) +
                                         ": the host did not take its last report");
                return false;
            }
            lastWhole_ = event.seq;
        }
        return true;
    }

    void Note(const std::string& what) { device_.notes.push_back({Now(), what}); }

    bool Reseat(const Event& event) {
        TakeCommands();
        DeviceLog::Window away{Now(), 0};
        if (event.step == Step::ReseatDuringWrite) {
            Note("commands left unread");
            SleepMs(kStallMs);  // no command read: a write waits on the wire when the cable goes
        }
        Note(event.step == Step::Flash ? "unplug for a flash" : "unplug");
        if (!scanner_.Unplug()) {
            device_.errors.push_back("unplug: " + scanner_.error());
            return false;
        }
        std::size_t samples = 0;
        {
            Lock lock(mutex_);
            samples = app_.samples.size();
        }
        if (event.measureCpu && !TakeSample()) {
            return false;
        }
        if (foreignDue_ && !foreignPlugged_) {
            foreignPlugged_ = foreignMade_
                                  ? foreign_.Plug()
                                  : foreign_.Create({"Other scanner", kForeignVendor,
                                                     kScannerProduct, MakerScannerDescriptor()});
            foreignMade_ = true;
            if (!foreignPlugged_ || foreign_.WaitForHidraw().empty()) {
                device_.errors.push_back("the other vendor's scanner: " + foreign_.error());
            }
        }
        foreignDue_ = false;
        SleepMs(event.absenceMs);
        if (event.measureCpu) {
            if (!TakeSample()) {
                return false;
            }
            device_.cpuSpans.push_back({samples, samples + 1});
        }
        if (event.step == Step::Flash &&
            !scanner_.Describe(
                MakerDescriptor(bridge::kScannerUsage, event.reportLength, event.reportLength),
                event.reportLength)) {
            device_.errors.push_back("flash: " + scanner_.error());
            return false;
        }
        if (!scanner_.Plug(event.bcd) || scanner_.WaitForHidraw().empty()) {
            device_.errors.push_back("replug: " + scanner_.error());
            return false;
        }
        const Ns nodeAt = Now();
        Note("node back");
        const std::size_t before = device_.commands.size();
        const bool back = Await(kRecoveryLimitMs, [&] { return device_.commands.size() > before; });
        away.end = Now();
        Note("first command");
        device_.away.push_back(away);
        device_.recoveries.push_back(back ? away.end - nodeAt : -1);
        return true;
    }

    // The scale thread: a weight block now and then, never during a Close and Open.
    void Weigh() {
        Random random(plan_.size.seed ^ 0x5CA1Eull);
        while (!stop_) {
            for (int left = random.Between(200, 800); left > 0 && !stop_; left -= 20) {
                SleepMs(20);
            }
            std::lock_guard<std::mutex> turn(scaleTurn_);
            if (stop_) {
                break;
            }
            const int block = static_cast<int>(device_.blockRecords.size());
            const int count = random.Between(1, 16);
            bool whole = true;
            for (int index = 0; index < count && whole; ++index) {
                const std::string data = RecordData(plan_.size.seed, block, index, count);
                std::vector<std::uint8_t> report(data.begin(), data.end());
                report.push_back(0);
                whole = scale_.SendInput(report);
            }
            if (!whole || !scale_.AwaitTaken(milliseconds(2000))) {
                scaleError_ = "weight block " + std::to_string(block) + ": " + scale_.error();
                break;
            }
            device_.blockRecords.push_back(count);
            Lock lock(mutex_);
            blocksSent_ = block + 1;
        }
    }

    const int link_;
    const Plan plan_;
    Random random_;
    UsbGadget scanner_;
    UsbGadget scale_;
    UsbGadget foreign_;
    bool foreignDue_ = false;
    bool foreignMade_ = false;
    bool foreignPlugged_ = false;
    int lastWhole_ = -1;  // the last scan sent whole
    DeviceLog device_;    // the script's thread, but blockRecords: under scaleTurn_
    std::string scaleError_;
    std::thread weigher_;
    std::mutex scaleTurn_;  // held by a weight block, and by a Close and Open
    std::atomic<bool> stop_{false};

    // --- what the application said: under mutex_ ---
    std::mutex mutex_;
    std::condition_variable changed_;
    AppLog app_;
    std::vector<std::pair<Ns, Ns>> pongs_;  // its clock, ours at the answer
    int seqRead_ = -1;
    int blocksRead_ = 0;
    int blocksSent_ = 0;
    int mode_ = 0;
    int cycles_ = 0;
    bool go_ = false;
    bool finished_ = false;
    bool gone_ = false;
    std::string leftover_;
};

}  // namespace

bool RunShift(int connection, const Size& size, std::string& pending) {
    ShiftRun run(connection, size);
    return run.Run(pending);
}

}  // namespace quen::test::shift
