// setuplink.dll as a JVM uses it: loaded, its native methods found by their plain JNI names and
// called with the JNI calling convention, while the DLL loads the configuration library's stand-in
// (ReaderSetupKit.dll, __stdcall exports) by its bare name. The stand-in logs what it received,
// reading the record by its byte offsets (see tests/config/reader_setup_kit_double.cpp).
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/fake_jni.h"
#include "support/process_resources.h"
#include "support/stdcall_probe.h"
#include "support/utf16_hex.h"

namespace quen::test {
namespace {

using NativeMethod = jint(JNICALL*)(JNIEnv*, jclass, jstring, jint, jint, jint, jint, jint, jint,
                                    jstring);
using Fields = std::map<std::string, std::string>;

#if defined(QUEN_STDCALL_PROBE)
std::uint32_t Word(const void* pointer) {
    return StackWord(pointer);
}
#endif

std::string BesideThisProgram(const std::string& relative) {
    char self[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, self, MAX_PATH);
    const std::string path(self, length);
    return path.substr(0, path.find_last_of("\\/") + 1) + relative;
}

using quen::test::Utf16Hex;

class SetuplinkDll : public ::testing::Test {
  protected:
    void SetUp() override {
        char temp[MAX_PATH];
        ASSERT_GT(GetTempPathA(MAX_PATH, temp), 0u);
        folder_ = std::string(temp) + "quenlink-setuplink-" +
                  std::to_string(GetCurrentProcessId()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name();
        CreateDirectoryA(folder_.c_str(), nullptr);
        DeleteFileA((folder_ + "\\log").c_str());
        DeleteFileA((folder_ + "\\result").c_str());
        SetEnvironmentVariableA("QUEN_DOUBLE_DIR", folder_.c_str());

        library_ = LoadLibraryA(BesideThisProgram("setuplink.dll").c_str());
        ASSERT_NE(library_, nullptr) << "setuplink.dll beside the test program";
    }

    void TearDown() override {
        SetDllDirectoryA(nullptr);
        if (library_ != nullptr) {
            FreeLibrary(library_);
        }
        DeleteFileA((folder_ + "\\log").c_str());
        DeleteFileA((folder_ + "\\result").c_str());
        RemoveDirectoryA(folder_.c_str());
    }

    // The stand-in is found only through the DLL search path that the test sets, as the
    // maker's library would be found through the default search.
    void ProvideConfigLibrary() {
        ASSERT_TRUE(SetDllDirectoryA(BesideThisProgram(QUEN_DOUBLE_FROM_PROGRAM).c_str()));
    }

    void StoreResult(int result) { std::ofstream(folder_ + "\\result") << result; }

    NativeMethod Method(const char* name) {
        const std::string symbol =
            std::string("Java_com_quendal_javapos_readersetupkit_ReaderSetupKit_") + name;
        return reinterpret_cast<NativeMethod>(
            reinterpret_cast<void*>(GetProcAddress(library_, symbol.c_str())));
    }

    std::vector<std::string> Log() const {
        std::ifstream in(folder_ + "\\log");
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }

    // The fields of the stand-in's one "call" line.
    Fields Call() const {
        Fields fields;
        for (const std::string& line : Log()) {
            if (line.rfind("call ", 0) != 0) {
                continue;
            }
            std::istringstream words(line.substr(5));
            for (std::string word; words >> word;) {
                const auto equals = word.find('=');
                fields[word.substr(0, equals)] = word.substr(equals + 1);
            }
        }
        return fields;
    }

    FakeJni jni_;
    HMODULE library_ = nullptr;
    std::string folder_;
};

// Values within their ranges and each different, so that a field read from the wrong offset
// shows; value3 passes unchanged and is negative.
constexpr jint kValue1 = 11;
constexpr jint kValue2 = 2;
constexpr jint kValue3 = -123456;
constexpr jint kValue4 = 3;
constexpr jint kValue5 = 4;
constexpr jint kValue6 = 0;

TEST_F(SetuplinkDll, DownloadHandsTheRecordAndTheTextsToTheLibrary) {
    ProvideConfigLibrary();
    StoreResult(42);
    NativeMethod download = Method("DownloadConfigFile");
    ASSERT_NE(download, nullptr);
    // U+00FC, U+20AC and a surrogate pair, which the JVM hands over in modified UTF-8.
    const std::u16string text1 = u"C:\\cfg\\\u00fc\u20ac\U0001F600.cfg";
    const std::u16string text2 = u"x2";

    // Locals that a wrongly balanced stack under the call would not leave as they were.
    volatile std::uint32_t guardBefore = 0x600DF00Du;
    volatile std::uint32_t guardAfter = 0x5AFE5AFEu;
    const jint result = download(jni_.env(), nullptr, jni_.NewString(text1), kValue1, kValue2,
                                 kValue3, kValue4, kValue5, kValue6, jni_.NewString(text2));
    EXPECT_EQ(guardBefore, 0x600DF00Du);
    EXPECT_EQ(guardAfter, 0x5AFE5AFEu);
    EXPECT_EQ(result, 42);

    const std::vector<std::string> log = Log();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log.front(), "load");
    EXPECT_EQ(log.back(), "unload");
    const Fields call = Call();
    EXPECT_EQ(call.at("function"), "DownloadConfigFile");
    EXPECT_EQ(call.at("value1"), std::to_string(kValue1));
    EXPECT_EQ(call.at("value2"), std::to_string(kValue2));
    EXPECT_EQ(call.at("value4"), std::to_string(kValue4));
    EXPECT_EQ(call.at("value3"), std::to_string(kValue3));
    EXPECT_EQ(call.at("alwaysOne"), "1");
    EXPECT_EQ(call.at("value6"), std::to_string(kValue6));
    EXPECT_EQ(call.at("value5"), std::to_string(kValue5));
    EXPECT_EQ(call.at("text1"), Utf16Hex(text1));
    EXPECT_EQ(call.at("text2"), Utf16Hex(text2));
    EXPECT_EQ(call.at("text3"), "");
    EXPECT_EQ(call.at("text2IsText3"), "0");
    EXPECT_EQ(call.at("cell"), "-1");
    EXPECT_EQ(call.at("zeros"), "0");
    EXPECT_EQ(jni_.stringsObtained, jni_.stringsReleased);
}

TEST_F(SetuplinkDll, ManyCallsLeaveTheLibraryUnloadedAndNoHandleOpen) {
    ProvideConfigLibrary();
    const NativeMethod methods[] = {Method("DownloadConfigFile"), Method("UploadConfigFile")};
    ASSERT_NE(methods[0], nullptr);
    ASSERT_NE(methods[1], nullptr);
    const long handles = OpenHandleCount();
    ASSERT_GT(handles, 0);
    const jstring text = jni_.NewString(u"C:\\cfg\\till.cfg");
    for (int i = 0; i < kLeakTestCalls; ++i) {
        methods[i % 2](jni_.env(), nullptr, text, 1, 1, 1, 1, 1, 1, text);
    }
    // Each call loaded, called and unloaded the library.
    EXPECT_EQ(Log().size(), 3u * kLeakTestCalls);
    EXPECT_FALSE(LibraryLoaded("ReaderSetupKit.dll"));
    EXPECT_EQ(OpenHandleCount(), handles);
}

#if defined(QUEN_STDCALL_PROBE)
TEST_F(SetuplinkDll, NativeMethodsAndTheLibraryFunctionsRemoveTheirOwnArguments) {
    ProvideConfigLibrary();
    const std::uint32_t arguments[] = {
        Word(jni_.env()), 0, Word(jni_.NewString(u"s.cfg")), 1, 1, 1, 1, 1, 1, Word(nullptr)};
    // FlashScannerFile's entry point is built the same way; its ten-second pause is tested below.
    for (const char* name : {"DownloadConfigFile", "UploadConfigFile"}) {
        EXPECT_EQ(
            quen_stack_drift(reinterpret_cast<const void*>(Method(name)), 10, arguments, nullptr),
            0)
            << name;
    }
    EXPECT_EQ(Log().size(), 6u);

    // The stand-in takes four (five) arguments the way the maker's library does, so that the
    // bridge's calls into it are checked against the right convention.
    HMODULE standIn = GetModuleHandleA("ReaderSetupKit.dll");
    EXPECT_EQ(standIn, nullptr) << "the bridge keeps the library loaded";
    standIn = LoadLibraryA("ReaderSetupKit.dll");
    ASSERT_NE(standIn, nullptr);
    wchar_t empty[1] = {};
    std::uint32_t record[9] = {};
    record[6] = record[7] = Word(empty);  // text2 and text3
    std::int32_t cell = -1;
    const std::uint32_t direct[] = {Word(record), Word(empty), Word(&cell), 0, 0};
    EXPECT_EQ(quen_stack_drift(
                  reinterpret_cast<const void*>(GetProcAddress(standIn, "DownloadConfigFile")), 4,
                  direct, nullptr),
              0);
    EXPECT_EQ(
        quen_stack_drift(reinterpret_cast<const void*>(GetProcAddress(standIn, "FlashScannerFile")),
                         5, direct, nullptr),
        0);
    FreeLibrary(standIn);
}

// Only on x86, where the five-argument __stdcall call is the one a wrong convention would break;
// it takes the flash's real ten-second pause.
TEST_F(SetuplinkDll, FlashPassesFiveArgumentsAndPausesAfterTheCall) {
    ProvideConfigLibrary();
    StoreResult(7);
    NativeMethod flash = Method("FlashScannerFile");
    ASSERT_NE(flash, nullptr);
    volatile std::uint32_t guard = 0x600DF00Du;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(flash(jni_.env(), nullptr, jni_.NewString(u"fw.bin"), kValue1, kValue2, kValue3,
                    kValue4, kValue5, kValue6, jni_.NewString(u"")),
              7);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(9900));
    EXPECT_EQ(guard, 0x600DF00Du);
    const Fields call = Call();
    EXPECT_EQ(call.at("function"), "FlashScannerFile");
    EXPECT_EQ(call.at("zeros"), "0,0");
    EXPECT_EQ(call.at("value5"), std::to_string(kValue5));
    EXPECT_EQ(call.at("text2"), "");
    EXPECT_EQ(call.at("text2IsText3"), "0");
}
#endif

}  // namespace
}  // namespace quen::test
