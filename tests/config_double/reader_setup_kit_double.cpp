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
//
// Plain C library calls and fixed buffers only, so that loading and freeing it leaves nothing
// behind and the bridge's own leaks show: the C++ library's static objects would keep a library
// loaded for good on Linux (GNU unique symbols), and a 32-bit MinGW DLL holding them leaves two
// handles behind at every unload.
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

// A line being written: what does not fit is cut, never written past the buffer.
class Line {
  public:
    void Add(const char* format, ...) {
        va_list arguments;
        va_start(arguments, format);
        const int n = std::vsnprintf(text_ + length_, sizeof text_ - length_, format, arguments);
        va_end(arguments);
        if (n > 0) {
            const std::size_t room = sizeof text_ - length_ - 1;
            length_ += static_cast<std::size_t>(n) < room ? static_cast<std::size_t>(n) : room;
        }
    }
    // A text's units as hex, or "unterminated".
    void AddUnits(const Unit* text) {
        const std::size_t start = length_;
        for (std::size_t i = 0; i < kBufferUnits; ++i) {
            if (text[i] == 0) {
                return;
            }
            Add("%04x", static_cast<unsigned>(text[i]));
        }
        length_ = start;
        Add("unterminated");
    }
    const char* c_str() const { return text_; }

  private:
    // Three texts of 1254 units at four digits each, and the rest of the line.
    char text_[3 * 4 * kBufferUnits + 512] = {};
    std::size_t length_ = 0;
};

// The path of `file` in the folder QUEN_DOUBLE_DIR names; false when there is none.
bool PathInFolder(const char* file, char (&path)[1024]) {
#ifdef _WIN32
    const DWORD n = GetEnvironmentVariableA("QUEN_DOUBLE_DIR", path, sizeof path);
    const std::size_t length = n < sizeof path ? n : 0;
#else
    const char* folder = std::getenv("QUEN_DOUBLE_DIR");
    const std::size_t length = folder != nullptr ? std::strlen(folder) : 0;
    if (length > 0 && length < sizeof path) {
        std::memcpy(path, folder, length);
    }
#endif
    if (length == 0 || length + 1 + std::strlen(file) >= sizeof path) {
        return false;
    }
    path[length] = '/';
    std::memcpy(path + length + 1, file, std::strlen(file) + 1);
    return true;
}

void Log(const char* line) {
    char path[1024];
    if (!PathInFolder("log", path)) {
        return;
    }
    if (std::FILE* f = std::fopen(path, "a")) {
        std::fprintf(f, "%s\n", line);
        std::fclose(f);
    }
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
             const char* zeros) {
    // Nine fields: six 32-bit integers, two pointers, one 32-bit integer, no gaps.
    const auto* record = static_cast<const unsigned char*>(request);
    const std::size_t text2At = 24;
    const std::size_t text3At = text2At + sizeof(const Unit*);
    const std::size_t value5At = text3At + sizeof(const Unit*);
    const Unit* text2 = PointerAt(record, text2At);
    const Unit* text3 = PointerAt(record, text3At);
    Line line;
    line.Add("call function=%s", function);
    const struct {
        const char* name;
        std::size_t offset;
    } ints[] = {{"value1", 0},     {"value2", 4},  {"value4", 8},       {"value3", 12},
                {"alwaysOne", 16}, {"value6", 20}, {"value5", value5At}};
    for (const auto& field : ints) {
        line.Add(" %s=%ld", field.name, static_cast<long>(IntAt(record, field.offset)));
    }
    line.Add(" text1=");
    line.AddUnits(text1);
    line.Add(" text2=");
    line.AddUnits(text2);
    line.Add(" text3=");
    line.AddUnits(text3);
    line.Add(" text2IsText3=%d cell=%ld zeros=%s", text2 == text3 ? 1 : 0, static_cast<long>(*cell),
             zeros);
    Log(line.c_str());

    char path[1024];
    if (std::FILE* f = PathInFolder("result", path) ? std::fopen(path, "r") : nullptr) {
        long result = 0;
        if (std::fscanf(f, "%ld", &result) == 1) {
            *cell = static_cast<std::int32_t>(result);
        }
        std::fclose(f);
    }
}

}  // namespace

#ifdef _WIN32
// Load and unload from DllMain: a C++ static object's destructor is what leaves the handles
// behind in a 32-bit DLL.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        Log("load");
    } else if (reason == DLL_PROCESS_DETACH) {
        Log("unload");
    }
    return TRUE;
}
#else
__attribute__((constructor)) static void LogLoad() {
    Log("load");
}
__attribute__((destructor)) static void LogUnload() {
    Log("unload");
}
#endif

DOUBLE_EXPORT void DOUBLE_CALL DownloadConfigFile(void* request, Unit* text1, std::int32_t* cell,
                                                  std::int32_t zero) {
    char zeros[16];
    std::snprintf(zeros, sizeof zeros, "%ld", static_cast<long>(zero));
    Receive("DownloadConfigFile", request, text1, cell, zeros);
}

DOUBLE_EXPORT void DOUBLE_CALL FlashScannerFile(void* request, Unit* text1, std::int32_t* cell,
                                                std::int32_t zero1, std::int32_t zero2) {
    char zeros[32];
    std::snprintf(zeros, sizeof zeros, "%ld,%ld", static_cast<long>(zero1),
                  static_cast<long>(zero2));
    Receive("FlashScannerFile", request, text1, cell, zeros);
}

DOUBLE_EXPORT void DOUBLE_CALL UploadConfigFile(void* request, Unit* text1, std::int32_t* cell,
                                                std::int32_t zero) {
    char zeros[16];
    std::snprintf(zeros, sizeof zeros, "%ld", static_cast<long>(zero));
    Receive("UploadConfigFile", request, text1, cell, zeros);
}
