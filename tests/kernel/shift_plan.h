// A till's shift as a script made from a seed: the scans the scanner sends (their reading mode,
// length and cut), and what happens between them (reseats, firmware flashes, a device of another
// vendor, Close and Open by the application, mode switches, samples of the JVM). The same seed
// gives the same shift, so a failure can be run again. What the scanner, the scale and the
// application send carries its own sequence number and checksum, laid out here for the side that
// sends it and the accounting that checks it (shift_account.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quen::test::shift {

struct Size {
    std::uint64_t seed = 1;
    int scans = 1000;
    int reseats = 10;
    int flashes = 2;
};

// splitmix64: the same numbers from the same seed on every platform and compiler.
class Random {
  public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t Next();
    int Between(int low, int high);  // low..high, both included
    bool OneIn(int n) { return Between(1, n) == 1; }

  private:
    std::uint64_t state_;
};

enum class Step : std::uint8_t {
    Scan,               // send scan `seq`; with cutAfter >= 0 only its first cutAfter reports
    Reseat,             // unplug the scanner for absenceMs, plug it back
    ReseatDuringWrite,  // the same, once the scanner has left its commands unread so long that a
                        // write waits on the wire
    Flash,              // re-enumerate as release `bcd` with reports of reportLength bytes
    ForeignPlug,        // plug in a scanner of another vendor (during the next reseat's absence
                        // when one follows at once)
    ForeignUnplug,
    Cycle,   // the application closes and opens both devices
    Mode,    // the application switches the scanner's reading mode to `segmented`
    Sample,  // the application reports its descriptors, threads, memory and CPU
};

struct Event {
    Step step = Step::Scan;
    int seq = 0;
    int cutAfter = -1;
    int absenceMs = 0;
    bool measureCpu = false;  // a long absence: CPU is sampled at its start and end
    std::uint16_t bcd = 0;
    std::uint16_t reportLength = 0;
    bool segmented = false;
};

// One scan as the plan has it. Its data is ScanData(seed, seq, length); in segmented mode it goes
// as `reports` reports of at most ReportData(reportLength) data bytes each.
struct Scan {
    int length = 0;
    bool segmented = false;
    std::uint16_t reportLength = 64;
    std::vector<int> chunks;  // the data bytes of each report
};

struct Plan {
    Size size;
    std::vector<Event> events;  // in order; each scan once, as a Scan event
    std::vector<Scan> scans;    // by sequence number
};

Plan MakePlan(const Size& size);

// The data bytes a scanner report of `reportLength` bytes carries after its five header bytes; L,
// a signed byte that gives the last data byte's position (the report ID counted), stays <= 127.
int ReportData(std::uint16_t reportLength);

// Scan data: "SSSSSS:LLLL:CCCCCCCC:" (sequence number, length, CRC-32 of the rest, in hex) and
// letters from the seed, `length` bytes in all. Letters only, so that a header is never mistaken.
constexpr int kScanHeader = 21;
constexpr int kMaxScan = 1024;
std::string ScanData(std::uint64_t seed, int seq, int length);
// The scan's sequence number, or -1 when `data` does not begin with a well-formed header.
int ScanSeq(const std::string& data);

// A weight record of the scale: "WBBBBBB:II/NN:" (block, index, records in the block) and letters,
// kRecordData bytes: a scale report's data as the device sends it (its last byte, 0, is dropped
// from the record of 64 chars a read returns after the report ID).
constexpr int kRecordData = 63;
std::string RecordData(std::uint64_t seed, int block, int index, int count);

// A command the application writes: "C" and the 6-digit sequence number.
std::string CommandText(int seq);

std::uint32_t Crc32(const std::string& bytes);

}  // namespace quen::test::shift
