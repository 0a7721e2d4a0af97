// The parameter record that the configuration library's functions take, and their call interface.
#pragma once

#include <cstddef>
#include <cstdint>

#include "config/wide_text.h"

namespace quen::config {

// The field order is the library's, not the Java arguments' order.
struct ConfigRequest {
    std::int32_t value1;
    std::int32_t value2;
    std::int32_t value4;
    std::int32_t value3;
    std::int32_t alwaysOne;
    std::int32_t value6;
    WideUnit* text2;
    WideUnit* text3;
    std::int32_t value5;
};

// Where pointers are 32 bits (the 32-bit Windows library) the layout is fixed to the byte.
constexpr bool kNarrowPointers = sizeof(void*) == 4;
static_assert(!kNarrowPointers || sizeof(ConfigRequest) == 36, "ConfigRequest is 36 bytes");
static_assert(!kNarrowPointers || offsetof(ConfigRequest, value1) == 0, "value1 at 0");
static_assert(!kNarrowPointers || offsetof(ConfigRequest, value2) == 4, "value2 at 4");
static_assert(!kNarrowPointers || offsetof(ConfigRequest, value4) == 8, "value4 at 8");
static_assert(!kNarrowPointers || offsetof(ConfigRequest, value3) == 12, "value3 at 12");
static_assert(!kNarrowPointers || offsetof(ConfigRequest, alwaysOne) == 16, "alwaysOne at 16");
static_assert(!kNarrowPointers || offsetof(ConfigRequest, value6) == 20, "value6 at 20");
static_assert(!kNarrowPointers || offsetof(ConfigRequest, text2) == 24, "text2 at 24");
static_assert(!kNarrowPointers || offsetof(ConfigRequest, text3) == 28, "text3 at 28");
static_assert(!kNarrowPointers || offsetof(ConfigRequest, value5) == 32, "value5 at 32");

// The library's functions use the Windows API calling convention (the callee pops its
// arguments); elsewhere the platform's default. Their own return value is never used.
#ifdef _WIN32
#define QUEN_CONFIG_CALL __stdcall
#else
#define QUEN_CONFIG_CALL
#endif

// DownloadConfigFile and UploadConfigFile: record, text1, result cell, 0.
using ConfigFunction4 = void(QUEN_CONFIG_CALL*)(ConfigRequest* request, WideUnit* text1,
                                                std::int32_t* result, std::int32_t zero);
// FlashScannerFile: record, text1, result cell, 0, 0.
using ConfigFunction5 = void(QUEN_CONFIG_CALL*)(ConfigRequest* request, WideUnit* text1,
                                                std::int32_t* result, std::int32_t zero1,
                                                std::int32_t zero2);

}  // namespace quen::config
