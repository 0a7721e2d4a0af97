#include "kernel/shift_plan.h"

#include <algorithm>
#include <cstdio>

namespace quen::test::shift {
namespace {

// Letters from the seed and a stream number: the body of a scan or a record.
std::string Letters(std::uint64_t seed, std::uint64_t stream, int count) {
    Random random(seed * 0x100000001B3ull ^ stream);
    std::string letters;
    for (int i = 0; i < count; ++i) {
        const int pick = random.Between(0, 51);
        letters += static_cast<char>(pick < 26 ? 'A' + pick : 'a' + pick - 26);
    }
    return letters;
}

int ScanLength(Random& random, bool segmented, int perReport) {
    if (!segmented) {
        return random.Between(kScanHeader, perReport);
    }
    if (random.OneIn(30)) {
        return kMaxScan;
    }
    const int kind = random.Between(1, 10);
    if (kind <= 6) {
        return random.Between(kScanHeader, perReport);
    }
    return kind <= 9 ? random.Between(perReport + 1, 300) : random.Between(301, kMaxScan);
}

// Reports of at most `perReport` data bytes, some of them short.
std::vector<int> Chunks(Random& random, int length, int perReport) {
    std::vector<int> chunks;
    for (int left = length; left > 0;) {
        const int chunk = std::min(left, perReport - random.Between(0, perReport / 4));
        chunks.push_back(chunk);
        left -= chunk;
    }
    return chunks;
}

}  // namespace

std::uint64_t Random::Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

int Random::Between(int low, int high) {
    return low + static_cast<int>(Next() % static_cast<std::uint64_t>(high - low + 1));
}

int ReportData(std::uint16_t reportLength) {
    return std::min(reportLength - 5, 127 - 5);
}

Plan MakePlan(const Size& size) {
    Plan plan;
    plan.size = size;
    Random random(size.seed);
    const int n = size.scans;
    const int edge = std::min(10, n / 10);
    const auto somewhere = [&] { return random.Between(edge, n - edge); };
    // What happens before each scan, besides mode switches and samples.
    std::vector<std::vector<Event>> gaps(static_cast<std::size_t>(n) + 1);
    const auto before = [&](int seq) -> std::vector<Event>& {
        return gaps[static_cast<std::size_t>(seq)];
    };
    const int measured = std::max(1, size.reseats / 20);
    const int foreign = std::max(1, size.reseats / 20);
    for (int i = 0; i < size.reseats; ++i) {
        Event reseat;
        reseat.step = random.OneIn(5) ? Step::ReseatDuringWrite : Step::Reseat;
        reseat.measureCpu = i < measured;
        reseat.absenceMs = reseat.measureCpu ? 3000 : random.Between(50, 1500);
        const int at = somewhere();
        if (i < foreign) {
            // Plugged while the scanner is away, where a careless search would take it.
            Event plug;
            plug.step = Step::ForeignPlug;
            before(at).push_back(plug);
            Event unplug;
            unplug.step = Step::ForeignUnplug;
            before(random.Between(at, n - edge)).push_back(unplug);
        }
        before(at).push_back(reseat);
    }
    for (int i = 0; i < size.flashes; ++i) {
        Event flash;
        flash.step = Step::Flash;
        // Release 1.01, 1.02 ...: bcdDevice is binary-coded decimal, a digit a nibble.
        flash.bcd = static_cast<std::uint16_t>(0x0100 + (i + 1) / 10 * 16 + (i + 1) % 10);
        flash.absenceMs = random.Between(300, 1500);
        before(somewhere()).push_back(flash);
    }
    for (int i = 0; i < std::max(1, n / 300); ++i) {
        Event cycle;
        cycle.step = Step::Cycle;
        before(somewhere()).push_back(cycle);
    }
    // The gaps in order: mode switches, samples, the events, then the scan. A scan in segmented
    // mode that a reseat or a cycle follows is cut, now and then, after some of its reports.
    std::uint16_t reportLength = 64;
    bool segmented = false;
    int nextSwitch = std::min(random.Between(50, 400), n / 2);
    const int sampleEvery = std::max(25, n / 40);
    for (int seq = 0; seq < n; ++seq) {
        if (seq == nextSwitch) {
            segmented = !segmented;
            Event mode;
            mode.step = Step::Mode;
            mode.segmented = segmented;
            plan.events.push_back(mode);
            nextSwitch += random.Between(50, 400);
        }
        if (seq > 0 && seq % sampleEvery == 0) {
            Event sample;
            sample.step = Step::Sample;
            plan.events.push_back(sample);
        }
        for (Event event : before(seq)) {
            if (event.step == Step::Flash) {
                const std::uint16_t choices[] = {32, 64, 128};
                do {
                    event.reportLength = choices[random.Between(0, 2)];
                } while (event.reportLength == reportLength);
                reportLength = event.reportLength;
            }
            plan.events.push_back(event);
        }
        const std::vector<Event>& next = before(seq + 1);
        const bool cuttable =
            segmented && !next.empty() &&
            (next.front().step == Step::Reseat || next.front().step == Step::Cycle) &&
            random.OneIn(2);
        const int perReport = ReportData(reportLength);
        Scan scan;
        scan.segmented = segmented;
        scan.reportLength = reportLength;
        scan.length = cuttable ? random.Between(2 * perReport, kMaxScan)
                               : ScanLength(random, segmented, perReport);
        scan.chunks =
            segmented ? Chunks(random, scan.length, perReport) : std::vector<int>{scan.length};
        Event send;
        send.seq = seq;
        if (cuttable && scan.chunks.size() > 1) {
            send.cutAfter = random.Between(1, static_cast<int>(scan.chunks.size()) - 1);
        }
        plan.scans.push_back(scan);
        plan.events.push_back(send);
    }
    return plan;
}

std::string ScanData(std::uint64_t seed, int seq, int length) {
    const std::string body =
        Letters(seed, static_cast<std::uint64_t>(seq) * 2u, length - kScanHeader);
    char header[kScanHeader + 1];
    std::snprintf(header, sizeof header, "%06d:%04d:%08x:", seq, length,
                  static_cast<unsigned>(Crc32(body)));
    return header + body;
}

int ScanSeq(const std::string& data) {
    int seq = -1;
    int length = 0;
    unsigned crc = 0;
    int end = 0;
    if (data.size() < static_cast<std::size_t>(kScanHeader) ||
        std::sscanf(data.c_str(), "%6d:%4d:%8x:%n", &seq, &length, &crc, &end) != 3 ||
        end != kScanHeader) {
        return -1;
    }
    return seq;
}

std::string RecordData(std::uint64_t seed, int block, int index, int count) {
    char header[16];
    const int used = std::snprintf(header, sizeof header, "W%06d:%02d/%02d:", block, index, count);
    return header + Letters(seed, static_cast<std::uint64_t>(block * 64 + 1 + 2 * index),
                            kRecordData - used);
}

std::string CommandText(int seq) {
    char text[16];
    std::snprintf(text, sizeof text, "C%06d", seq);
    return text;
}

std::uint32_t Crc32(const std::string& bytes) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const char c : bytes) {
        crc ^= static_cast<std::uint8_t>(c);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

}  // namespace quen::test::shift
