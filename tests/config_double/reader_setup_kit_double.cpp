// A stand-in for the maker's configuration library, built as libReaderSetupKit.so /
// ReaderSetupKit.dll. It lives only while the bridge has it loaded, so it keeps nothing itself:
// when QUEN_DOUBLE_DIR names a folder it appends one line per event to the file "log" there
//   load
//   call function=<name> value1=.. value2=.. value4=.. value3=.. alwaysOne=.. value6=.. value5=..
//        text1=<units> text2=<units> text3=<units> text2IsText3=<0|1> cell=<cell on entry>
//        zeros=<trailing arguments>
//   unload
// where <units> are the text's UTF-16 units before its terminator, four hex digits each, or
// "unterminated" when the 1255 units of a buffer hold no terminator. When the folder holds a file
// "result", the number in it is stored in the result cell; otherwise the cell is left untouched.
// The record is read by its byte offsets, independently of the bridge's own declaration.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#ifdef _WIN32
#include <windows.h>
#define DOUBLE_EXPORT extern "C" __declspec(dllexport)
#define DOUBLE_CALL __stdcall
using Unit = wchar_t;
#else
#define DOUBLE_EXPORT extern "C" __attribute__((visibility("default")))
#define DOUBLE_CALL
using Unit = char16_t;
#endif

namespace {

constexpr std::size_t kBufferUnits = 1255;

std::string Folder() {
#ifdef _WIN32
    char path[1024];
    const DWORD n = GetEnvironmentVariableA("QUEN_DOUBLE_DIR", path, sizeof path);
    return n > 0 && n < sizeof path ? std::string(path, n) : std::string();
#else
    const char* path = std::getenv("QUEN_DOUBLE_DIR");
    return path != nullptr ? std::string(path) : std::string();
#endif
}

void Log(const std::string& line) {
    const std::string folder = Folder();
    if (folder.empty()) {
        return;
    }
    if (std::FILE* f = std::fopen((folder + "/log").c_str(), "a")) {
        std::fprintf(f, "%s\n", line.c_str());
        std::fclose(f);
    }
}

std::string Units(const Unit* text) {
    std::string out;
    for (std::size_t i = 0; i < kBufferUnits; ++i) {
        if (text[i] == 0) {
            return out;
        }
        char hex[5];
        std::snprintf(hex, sizeof hex, "%04x", static_cast<unsigned>(text[i]));
        out += hex;
    }
    return "unterminated";
}

// Not std::to_string: its digit table is a GNU unique symbol, which would keep this library
// loaded for good and hide the unloads.
std::string Decimal(long value) {
    char digits[24];
    std::snprintf(digits, sizeof digits, "%ld", value);
    return digits;
}

std::int32_t IntAt(const unsigned char* record, std::size_t offset) {
    std::int32_t value;
    std::memcpy(&value, record + offset, sizeof value);
    return value;
}

const Unit* PointerAt(const unsigned char* record, std::size_t offset) {
    const Unit* pointer;
    std::memcpy(&pointer, record + offset, sizeof pointer);
    return pointer;
}

void Receive(const char* function, const void* request, const Unit* text1, std::int32_t* cell,
             const std::string& zeros) {
    // Nine fields: six 32-bit integers, two pointers, one 32-bit integer, no gaps.
    const auto* record = static_cast<const unsigned char*>(request);
    const std::size_t text2At = 24;
    const std::size_t text3At = text2At + sizeof(const Unit*);
    const std::size_t value5At = text3At + sizeof(const Unit*);
    const Unit* text2 = PointerAt(record, text2At);
    const Unit* text3 = PointerAt(record, text3At);
    std::string line = std::string("call function=") + function;
    const struct {
        const char* name;
        std::size_t offset;
    } ints[] = {{"value1", 0},     {"value2", 4},  {"value4", 8},       {"value3", 12},
                {"alwaysOne", 16}, {"value6", 20}, {"value5", value5At}};
    for (const auto& field : ints) {
        line += std::string(" ") + field.name + "=" + Decimal(IntAt(record, field.offset));
    }
    line += " text1=" + Units(text1) + " text2=" + Units(text2) + " text3=" + Units(text3);
    line += std::string(" text2IsText3=") + (text2 == text3 ? "1" : "0");
    line += " cell=" + Decimal(*cell) + " zeros=" + zeros;
    Log(line);

    const std::string folder = Folder();
    if (std::FILE* f = folder.empty() ? nullptr : std::fopen((folder + "/result").c_str(), "r")) {
        long result = 0;
        if (std::fscanf(f, "%ld", &result) == 1) {
            *cell = static_cast<std::int32_t>(result);
        }
        std::fclose(f);
    }
}

struct LoadEvents {
    LoadEvents() { Log("load"); }
    ~LoadEvents() { Log("unload"); }
} loadEvents;

}  // namespace

DOUBLE_EXPORT void DOUBLE_CALL DownloadConfigFile(void* request, Unit* text1, std::int32_t* cell,
                                                  std::int32_t zero) {
    Receive("DownloadConfigFile", request, text1, cell, Decimal(zero));
}

DOUBLE_EXPORT void DOUBLE_CALL FlashScannerFile(void* request, Unit* text1, std::int32_t* cell,
                                                std::int32_t zero1, std::int32_t zero2) {
    Receive("FlashScannerFile", request, text1, cell, Decimal(zero1) + "," + Decimal(zero2));
}

DOUBLE_EXPORT void DOUBLE_CALL UploadConfigFile(void* request, Unit* text1, std::int32_t* cell,
                                                std::int32_t zero) {
    Receive("UploadConfigFile", request, text1, cell, Decimal(zero));
}
