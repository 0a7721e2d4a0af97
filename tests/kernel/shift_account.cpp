#include "kernel/shift_account.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <map>

namespace quen::test::shift {
namespace {

constexpr Ns kMs = 1000000;
constexpr int kFaultsShown = 8;

class Report {
  public:
    void Line(const char* format, ...) __attribute__((format(printf, 2, 3))) {
        char text[512];
        va_list args;
        va_start(args, format);
        std::vsnprintf(text, sizeof text, format, args);
        va_end(args);
        verdict.lines.emplace_back(text);
    }
    // A fault fails the shift; the first few are shown.
    void Fault(const std::string& what) {
        verdict.pass = false;
        if (faults_++ < kFaultsShown) {
            verdict.lines.push_back("FAULT: " + what);
        }
    }
    Verdict verdict;

  private:
    int faults_ = 0;
};

double Percentile(std::vector<Ns> values, double fraction) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const auto at = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1));
    return static_cast<double>(values[at]) / kMs;
}

// Whether another scan's header follows the start of `data`.
bool HeaderInside(const std::string& data) {
    for (std::size_t at = 1; at + kScanHeader <= data.size(); ++at) {
        if (ScanSeq(data.substr(at, kScanHeader)) >= 0) {
            return true;
        }
    }
    return false;
}

// Each read's scan data: in single-report mode after its six header bytes, which must say the
// length the report states. Empty for a header that is not the scanner's.
std::string ScanDataOf(const AppLog::Read& read) {
    if (read.mode == 1) {
        return read.bytes;
    }
    const std::string& b = read.bytes;
    if (b.size() < 6 || b[0] != 0 || static_cast<std::size_t>(b[1]) + 1 != b.size() || b[2] != 0 ||
        b[3] != 0 || b[4] != 0 || b[5] != 0) {
        return {};
    }
    return b.substr(6);
}

// What happened within a second of scan `seq`'s last report, for a fault's line.
std::string Context(const DeviceLog& device, const AppLog& app, int seq) {
    const Ns at = device.scans[static_cast<std::size_t>(seq)].lastReportAt;
    std::string text;
    char item[96];
    const auto add = [&](Ns when, const std::string& what) {
        if (when > at - 1000 * kMs && when < at + 1000 * kMs) {
            std::snprintf(item, sizeof item, "; %+.1f ms %s", static_cast<double>(when - at) / kMs,
                          what.c_str());
            text += item;
        }
    };
    for (const DeviceLog::Note& note : device.notes) {
        add(note.at, note.what);
    }
    for (const AppLog::Read& read : app.scans) {
        const std::size_t skip = read.mode == 1 ? 0 : 6;
        const int got = ScanSeq(read.bytes.substr(std::min(skip, read.bytes.size()), kScanHeader));
        if (got >= seq - 2 && got <= seq + 2) {
            add(read.at - app.offset, "read " + std::to_string(got));
        }
    }
    return text;
}

void AccountScans(const Plan& plan, const DeviceLog& device, const AppLog& app, Report& report) {
    const std::size_t n = plan.scans.size();
    std::vector<int> arrivals(n, 0);
    std::vector<Ns> latencies;
    int last = -1;
    int partial = 0;
    int foreign = 0;
    for (const AppLog::Read& read : app.scans) {
        const std::string data = ScanDataOf(read);
        const int seq = ScanSeq(data);
        if (!data.empty() && data[0] == 'F') {
            ++foreign;
            report.Fault("a report of the other vendor's scanner was read");
            continue;
        }
        const auto index = static_cast<std::size_t>(seq);
        if (seq < 0 || index >= n || !device.scans[index].sent) {
            report.Fault(std::string(HeaderInside(data) ? "a read spliced from a scan's tail and "
                                                          "another: '"
                                                        : "a read that is no scan sent: '") +
                         data.substr(0, 40) + "'");
            continue;
        }
        const Scan& scan = plan.scans[index];
        const DeviceLog::SentScan& sent = device.scans[index];
        const std::string expected = ScanData(plan.size.seed, seq, scan.length);
        const std::string name = "scan " + std::to_string(seq);
        if (read.mode != (scan.segmented ? 1 : 0)) {
            report.Fault(name + " was read in the other mode" + Context(device, app, seq));
        } else if (data == expected) {
            if (arrivals[index]++ > 0) {
                report.Fault(name + " arrived twice" + Context(device, app, seq));
            } else if (seq < last) {
                report.Fault(name + " arrived after scan " + std::to_string(last));
            }
            last = std::max(last, seq);
            if (sent.complete) {
                latencies.push_back(read.at - app.offset - sent.lastReportAt);
            }
        } else if (data.size() < expected.size() && expected.compare(0, data.size(), data) == 0) {
            // A message whose continuation never came ends with the read's time-out, as
            // specified; one cut by an unplug or a Close must not be handed on.
            const bool timedOut = read.at - app.offset - sent.lastReportAt >= 499 * kMs;
            if (sent.complete || !timedOut) {
                report.Fault(name + " arrived truncated: " + std::to_string(data.size()) + " of " +
                             std::to_string(expected.size()) + " bytes" +
                             Context(device, app, seq));
            }
            ++partial;
        } else {
            report.Fault(name + (HeaderInside(data) ? " arrived spliced with another"
                                                    : " arrived corrupted"));
        }
    }
    int sent = 0;
    int cut = 0;
    int cutArrived = 0;
    int lostAtUnplug = 0;
    for (std::size_t seq = 0; seq < n; ++seq) {
        const DeviceLog::SentScan& scan = device.scans[seq];
        const bool atUnplug =
            std::any_of(device.away.begin(), device.away.end(), [&](const DeviceLog::Window& w) {
                return w.start >= scan.takenAt && w.start - scan.takenAt < kUnplugMarginMs * kMs;
            });
        sent += scan.sent ? 1 : 0;
        if (scan.sent && !scan.complete) {
            ++cut;
            cutArrived += arrivals[seq] > 0 ? 1 : 0;
        } else if (scan.complete && arrivals[seq] == 0 && atUnplug) {
            ++lostAtUnplug;
        } else if (scan.complete && arrivals[seq] == 0) {
            report.Fault("scan " + std::to_string(seq) + ", sent whole, never arrived" +
                         Context(device, app, static_cast<int>(seq)));
        }
    }
    const int whole = static_cast<int>(
        std::count_if(arrivals.begin(), arrivals.end(), [](int count) { return count > 0; }));
    report.Line(
        "scans: %d sent (%d of them cut by an unplug or a Close), %d arrived whole; "
        "cut ones that arrived whole %d, in part after the 500 ms time-out %d; "
        "sent whole but lost in the kernel at an unplug %ld ms later %d; other vendor's %d",
        sent, cut, whole, cutArrived, partial, kUnplugMarginMs, lostAtUnplug, foreign);
    report.Line(
        "latency from the device's last report to the read's return: median %.2f ms, "
        "p99 %.2f ms, max %.2f ms over %zu scans (clock offset known to %.2f ms)",
        Percentile(latencies, 0.5), Percentile(latencies, 0.99), Percentile(latencies, 1.0),
        latencies.size(), static_cast<double>(app.offsetError) / kMs);
}

void AccountCommands(const DeviceLog& device, const AppLog& app, Report& report) {
    std::map<int, int> received;
    int last = -1;
    for (const std::vector<std::uint8_t>& command : device.commands) {
        const std::string text(command.begin(), command.end());
        int seq = -1;
        int end = 0;
        const bool parsed = text.size() > 8 && text[0] == 0 &&
                            std::sscanf(text.c_str() + 1, "C%6d%n", &seq, &end) == 1 && end == 7 &&
                            text.find_first_not_of('\0', 8) == std::string::npos;
        if (!parsed || text.compare(1, 7, CommandText(seq)) != 0) {
            report.Fault("the scanner took a corrupted command");
            continue;
        }
        if (received[seq]++ > 0) {
            report.Fault("command " + std::to_string(seq) + " reached the scanner twice");
        } else if (seq < last) {
            report.Fault("command " + std::to_string(seq) + " came after " + std::to_string(last));
        }
        last = std::max(last, seq);
    }
    int taken = 0;
    int lostAway = 0;
    int refused = 0;
    for (const AppLog::Write& write : app.writes) {
        const Ns start = write.start - app.offset - app.offsetError;
        const Ns end = write.end - app.offset + app.offsetError;
        const bool away = std::any_of(device.away.begin(), device.away.end(), [&](const auto& w) {
            return start <= w.end && end >= w.start;
        });
        const int count = received.count(write.seq) > 0 ? received[write.seq] : 0;
        received.erase(write.seq);
        const std::string name = "command " + std::to_string(write.seq);
        taken += write.taken ? 1 : 0;
        refused += write.taken ? 0 : 1;
        if (write.taken && count == 0) {
            if (!away) {
                report.Fault(name + " was written but never reached the scanner");
            }
            ++lostAway;
        } else if (!write.taken && count > 0 && !away) {
            report.Fault(name + " reached the scanner although its write returned false");
        }
    }
    if (!received.empty()) {
        report.Fault("the scanner took " + std::to_string(received.size()) +
                     " commands nobody wrote");
    }
    report.Line(
        "commands: %zu written, %d of them true (%d of those lost with an unplugged "
        "scanner's unread queue), %d false; the scanner took %zu",
        app.writes.size(), taken, lostAway, refused, device.commands.size());
}

void AccountWeights(const Plan& plan, const DeviceLog& device, const AppLog& app, Report& report) {
    constexpr std::size_t kRecord = kRecordData + 1;
    const std::size_t blocks = device.blockRecords.size();
    std::vector<std::vector<int>> records(blocks);
    std::vector<std::vector<std::size_t>> readOf(blocks);
    for (std::size_t r = 0; r < app.weights.size(); ++r) {
        const std::string& bytes = app.weights[r].bytes;
        if (bytes.empty() || bytes.size() % kRecord != 0) {
            report.Fault("a scale read of " + std::to_string(bytes.size()) + " bytes");
            continue;
        }
        for (std::size_t at = 0; at < bytes.size(); at += kRecord) {
            const std::string data = bytes.substr(at + 1, kRecordData);
            int block = -1;
            int index = -1;
            int count = -1;
            if (bytes[at] != 0 ||
                std::sscanf(data.c_str(), "W%6d:%2d/%2d:", &block, &index, &count) != 3 ||
                block < 0 || static_cast<std::size_t>(block) >= blocks ||
                data != RecordData(plan.size.seed, block, index, count)) {
                report.Fault("a corrupted weight record");
                continue;
            }
            records[static_cast<std::size_t>(block)].push_back(index);
            readOf[static_cast<std::size_t>(block)].push_back(r);
        }
    }
    int whole = 0;
    int oneRead = 0;
    for (std::size_t block = 0; block < blocks; ++block) {
        std::vector<int> expected(static_cast<std::size_t>(device.blockRecords[block]));
        for (std::size_t i = 0; i < expected.size(); ++i) {
            expected[i] = static_cast<int>(i);
        }
        if (records[block] != expected) {
            report.Fault("weight block " + std::to_string(block) + " arrived as " +
                         std::to_string(records[block].size()) + " of " +
                         std::to_string(expected.size()) + " records, or out of order");
            continue;
        }
        ++whole;
        oneRead += readOf[block].front() == readOf[block].back() ? 1 : 0;
    }
    report.Line("weight blocks: %zu sent, %d arrived whole (%d of them in one read)", blocks, whole,
                oneRead);
}

void AccountProcess(const DeviceLog& device, const AppLog& app, Report& report) {
    if (app.samples.size() < 2) {
        report.Fault("the application sent fewer than two samples");
        return;
    }
    const AppLog::Sample& first = app.samples.front();
    const AppLog::Sample& last = app.samples.back();
    if (first.descriptors != last.descriptors) {
        // Where they changed: after what the device side did last.
        std::string changes;
        for (std::size_t i = 1; i < app.samples.size(); ++i) {
            const long change = app.samples[i].descriptors - app.samples[i - 1].descriptors;
            std::string after = "the start";
            for (const DeviceLog::Note& note : device.notes) {
                after = note.at < app.samples[i].at ? note.what : after;
            }
            if (change != 0) {
                changes += "; " + std::to_string(change) + " by sample " + std::to_string(i) +
                           " (after " + after + ")";
            }
        }
        report.Fault("the application held " + std::to_string(first.descriptors) +
                     " descriptors at the start and " + std::to_string(last.descriptors) +
                     " at the end" + changes);
    }
    // The resident set's slope by least squares, leaving out the first tenth of the shift while
    // the JVM compiles what the shift runs.
    const Ns warm = first.at + (last.at - first.at) / 10;
    double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
    long warmKb = -1;
    for (const AppLog::Sample& s : app.samples) {
        if (s.at < warm) {
            continue;
        }
        warmKb = warmKb < 0 ? s.residentKb : warmKb;
        const double x = static_cast<double>(s.at - warm) / 3.6e12;  // hours
        const double y = static_cast<double>(s.residentKb);
        n += 1, sx += x, sy += y, sxx += x * x, sxy += x * y;
    }
    const double slope =
        n > 1 && sxx * n != sx * sx ? (n * sxy - sx * sy) / (n * sxx - sx * sx) : 0;
    std::string tenths;
    for (int tenth = 0; tenth <= 10; ++tenth) {
        const Ns at = first.at + (last.at - first.at) * tenth / 10;
        const auto sample =
            std::lower_bound(app.samples.begin(), app.samples.end(), at,
                             [](const AppLog::Sample& s, Ns when) { return s.at < when; });
        tenths +=
            (tenth == 0 ? "" : ", ") +
            std::to_string(sample == app.samples.end() ? last.residentKb : sample->residentKb);
    }
    report.Line(
        "application: descriptors %ld at the start, %ld at the end; threads %ld, %ld; "
        "resident %ld kB, %ld kB after the first tenth, %ld kB at the end "
        "(slope %+.0f kB per hour over %.0f samples; resident at each tenth of the way, in kB: %s)",
        first.descriptors, last.descriptors, first.threads, last.threads, first.residentKb, warmKb,
        last.residentKb, slope, n, tenths.c_str());
    Ns wall = 0, cpu = 0, scannerCpu = 0;
    for (const DeviceLog::Span& span : device.cpuSpans) {
        const AppLog::Sample& from = app.samples.at(span.from);
        const AppLog::Sample& to = app.samples.at(span.to);
        wall += to.at - from.at;
        cpu += to.cpu - from.cpu;
        scannerCpu += to.scannerCpu - from.scannerCpu;
        if (to.quickNulls != from.quickNulls) {
            report.Fault("scanner reads returned null at once while the scanner was away");
        }
    }
    if (wall > 0) {
        report.Line(
            "CPU while the scanner was away: %.2f%% of a core in the scanner's reads and writes, "
            "%.2f%% for the whole process (with the scale's reads and the application's own "
            "work), over %.1f s",
            100.0 * static_cast<double>(scannerCpu) / static_cast<double>(wall),
            100.0 * static_cast<double>(cpu) / static_cast<double>(wall),
            static_cast<double>(wall) / 1e9);
    }
}

}  // namespace

Verdict Account(const Plan& plan, const DeviceLog& device, const AppLog& app) {
    Report report;
    for (const std::string& error : device.errors) {
        report.Fault("device side: " + error);
    }
    AccountScans(plan, device, app, report);
    AccountCommands(device, app, report);
    AccountWeights(plan, device, app, report);
    std::vector<Ns> recovered;
    for (const Ns ns : device.recoveries) {
        if (ns < 0) {
            report.Fault("the library never found the scanner again after a replug");
        } else {
            recovered.push_back(ns);
        }
    }
    report.Line(
        "recovery from the replugged node's appearance to the first command on it: "
        "median %.0f ms, max %.0f ms over %zu replugs",
        Percentile(recovered, 0.5), Percentile(recovered, 1.0), recovered.size());
    std::string states;
    for (const std::string& state : app.states) {
        states += (states.empty() ? "" : ", ") + state;
    }
    report.Line("DeviceState before each Close and at the end: %s", states.c_str());
    AccountProcess(device, app, report);
    report.Line("verdict: %s", report.verdict.pass ? "pass" : "FAIL");
    return report.verdict;
}

}  // namespace quen::test::shift
