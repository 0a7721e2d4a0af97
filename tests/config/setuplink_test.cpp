// The bridge against the configuration library's stand-in, loaded for real by its bare name. The
// stand-in writes what it saw to a log in a folder of the test's own (see
// reader_setup_kit_double.cpp); the platform services are observed through the seam.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "config/config_call.h"
#include "support/fake_jni.h"
#include "support/process_resources.h"
#include "support/utf16_hex.h"

extern "C" {
#define QUEN_NATIVE_METHOD(name)                                                \
    jint JNICALL Java_com_quendal_javapos_readersetupkit_ReaderSetupKit_##name( \
        JNIEnv*, jclass, jstring, jint, jint, jint, jint, jint, jint, jstring)
QUEN_NATIVE_METHOD(DownloadConfigFile);
QUEN_NATIVE_METHOD(FlashScannerFile);
QUEN_NATIVE_METHOD(UploadConfigFile);
}

namespace quen::config {
namespace {

using Events = std::vector<std::string>;
using Fields = std::map<std::string, std::string>;
const Events kCalled{"load", "call", "unload"};
const Events kNotCalled{"load", "unload"};

using quen::test::Utf16Hex;

class SetuplinkTest : public ::testing::Test, public ModuleServices {
  protected:
    SetuplinkTest() {
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(test->test_suite_name()) + "." + test->name();
        std::replace(name.begin(), name.end(), '/', '_');
        folder_ = std::filesystem::path(QUEN_DOUBLE_SCRATCH) / name;
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_);
#ifdef _WIN32
        _putenv_s("QUEN_DOUBLE_DIR", folder_.string().c_str());
#else
        setenv("QUEN_DOUBLE_DIR", folder_.string().c_str(), 1);
#endif
    }

    // The system's own services, observed; a test may hide the library or its function.
    Handle Load(const char* fileName) override {
        loaded.push_back(fileName);
        return SystemModules().Load(hideLibrary ? "QuenNoSuchLibrary" : fileName);
    }
    Symbol Find(Handle module, const char* name) override {
        found.push_back(name);
        return SystemModules().Find(module, hideFunction ? "QuenNoSuchFunction" : name);
    }
    void Free(Handle module) override {
        SystemModules().Free(module);
    }
    void SleepMs(unsigned milliseconds) override {
        sleeps.push_back(milliseconds);
        eventsAtSleep = Log();
    }

    void StoreResult(int result) {
        std::ofstream(folder_ / "result") << result;
    }
    void ClearLog() {
        std::filesystem::remove(folder_ / "log");
    }

    // The events the stand-in logged, and the fields of its last call.
    Events Log() const {
        Events events;
        std::ifstream log(folder_ / "log");
        for (std::string line; std::getline(log, line);) {
            events.push_back(line.substr(0, line.find(' ')));
        }
        return events;
    }
    Fields LastCall() const {
        Fields fields;
        std::ifstream log(folder_ / "log");
        for (std::string line; std::getline(log, line);) {
            if (line.rfind("call ", 0) == 0) {
                fields.clear();
                std::istringstream words(line.substr(5));
                for (std::string word; words >> word;) {
                    const std::size_t eq = word.find('=');
                    fields[word.substr(0, eq)] = word.substr(eq + 1);
                }
            }
        }
        return fields;
    }

    test::FakeJni jni;
    bool hideLibrary = false;
    bool hideFunction = false;
    Events loaded;
    Events found;
    std::vector<unsigned> sleeps;
    Events eventsAtSleep;

  private:
    std::filesystem::path folder_;
};

// Through the seam: the same for all three functions but the name, the zeros and the pause.
class ConfigCallTest : public SetuplinkTest, public ::testing::WithParamInterface<ConfigFunction> {
  protected:
    jint Call(jstring text1, jstring text2) {
        return CallConfigFunction(GetParam(), jni.env(), {text1, 17, 2, -7, 3, 5, 1, text2}, *this);
    }
    bool IsFlash() const { return GetParam() == ConfigFunction::kFlash; }
    std::string Name() const {
        return IsFlash()                                 ? "FlashScannerFile"
               : GetParam() == ConfigFunction::kDownload ? "DownloadConfigFile"
                                                         : "UploadConfigFile";
    }
};

TEST_P(ConfigCallTest, HandsRecordAndTextsOverAndReturnsTheCell) {
    StoreResult(42);
    EXPECT_EQ(Call(jni.NewString(u"C:\\cfg\\till.cfg"), jni.NewString(u"note")), 42);
    EXPECT_EQ(Log(), kCalled);
    EXPECT_EQ(loaded, Events{kConfigLibraryFile});
    EXPECT_EQ(found, Events{Name()});
    const Fields expected{{"function", Name()},
                          {"value1", "17"},
                          {"value2", "2"},
                          {"value4", "3"},
                          {"value3", "-7"},
                          {"alwaysOne", "1"},
                          {"value6", "1"},
                          {"value5", "5"},
                          {"text1", Utf16Hex(u"C:\\cfg\\till.cfg")},
                          {"text2", Utf16Hex(u"note")},
                          {"text3", ""},
                          {"text2IsText3", "0"},
                          {"cell", "-1"},
                          {"zeros", IsFlash() ? "0,0" : "0"}};
    EXPECT_EQ(LastCall(), expected);
    EXPECT_EQ(jni.stringsObtained, 2);
    EXPECT_EQ(jni.stringsReleased, 2);
    if (IsFlash()) {
        // The pause comes after the library is gone.
        EXPECT_EQ(sleeps, std::vector<unsigned>{10000});
        EXPECT_EQ(eventsAtSleep, kCalled);
    } else {
        EXPECT_TRUE(sleeps.empty());
    }
}

TEST_P(ConfigCallTest, CellLeftUntouchedGivesMinusOne) {
    EXPECT_EQ(Call(jni.NewString(u"a"), nullptr), -1);
    EXPECT_EQ(Log(), kCalled);
    EXPECT_EQ(sleeps.size(), IsFlash() ? 1u : 0u);
}

TEST_P(ConfigCallTest, MissingLibraryGivesMinusOneAtOnce) {
    hideLibrary = true;
    EXPECT_EQ(Call(jni.NewString(u"a"), nullptr), -1);
    EXPECT_TRUE(Log().empty());
    EXPECT_TRUE(found.empty());
    EXPECT_TRUE(sleeps.empty());
    EXPECT_EQ(jni.stringsObtained, 0);
}

TEST_P(ConfigCallTest, RefusedRequestFreesTheLibraryWithoutCalling) {
    StoreResult(42);
    const jstring fits = jni.NewString(std::u16string(1254, u'a'));
    const jstring tooLong = jni.NewString(std::u16string(1255, u'a'));
    // A surrogate pair that would end past the last unit is refused whole, never cut.
    const jstring pairTooLong = jni.NewString(std::u16string(1253, u'a') + u"\U0001F600");
    // The library would take the U+0000 for the end: "C:\cfg\a.cfg", another file.
    const jstring withNul = jni.NewString(std::u16string(u"C:\\cfg\\a.cfg") + u'\0' + u"-b.cfg");
    const struct {
        const char* what;
        jstring text1;
        jstring text2;
        bool hideFunction;
        bool failStrings;
    } cases[] = {{"function missing", fits, nullptr, true, false},
                 {"text1 null", nullptr, fits, false, false},
                 {"strings unobtainable", fits, nullptr, false, true},
                 {"text1 too long", tooLong, nullptr, false, false},
                 {"text1 pair too long", pairTooLong, nullptr, false, false},
                 {"text2 too long", fits, tooLong, false, false},
                 {"text1 holds U+0000", withNul, nullptr, false, false},
                 {"text2 holds U+0000", fits, withNul, false, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ClearLog();
        hideFunction = c.hideFunction;
        jni.failGetStringUtfChars = c.failStrings;
        EXPECT_EQ(Call(c.text1, c.text2), -1);
        EXPECT_EQ(Log(), kNotCalled);
        EXPECT_TRUE(sleeps.empty());
        EXPECT_EQ(jni.stringsReleased, jni.stringsObtained);
        EXPECT_FALSE(jni.ExceptionPending()) << "an exception would reach the Java caller";
    }
}

INSTANTIATE_TEST_SUITE_P(EachFunction, ConfigCallTest,
                         ::testing::Values(ConfigFunction::kDownload, ConfigFunction::kFlash,
                                           ConfigFunction::kUpload),
                         [](const auto& param) {
                             return std::string(param.param == ConfigFunction::kDownload
                                                    ? "Download"
                                                : param.param == ConfigFunction::kFlash ? "Flash"
                                                                                        : "Upload");
                         });

// Through the exported functions and the system's services.
using NativeMethodTest = SetuplinkTest;

TEST_F(NativeMethodTest, RangeRulesPlaceEachValueInItsField) {
    const struct {
        jint in[6];       // value1..value6 as Java passes them
        const char* out;  // the record's value1 value2 value4 value3 value6 value5
    } cases[] = {
        {{17, 2, -7, 3, 5, 3}, "17 2 3 -7 3 5"},
        {{18, 3, 0, 4, 6, 4}, "5 0 0 0 0 0"},
        {{-1, -1, -1, -1, -1, -1}, "5 0 0 -1 0 0"},
        {{1000, INT_MIN, INT_MAX, INT_MAX, INT_MAX, INT_MIN}, "5 0 0 2147483647 0 0"},
        {{5, 1, 1, 2, 4, 1}, "5 1 2 1 1 4"},
        {{0, 0, 0, 0, 0, 0}, "0 0 0 0 0 0"},
    };
    for (const auto& c : cases) {
        const jint* v = c.in;
        Java_com_quendal_javapos_readersetupkit_ReaderSetupKit_DownloadConfigFile(
            jni.env(), nullptr, jni.NewString(u"a"), v[0], v[1], v[2], v[3], v[4], v[5], nullptr);
        Fields call = LastCall();
        EXPECT_EQ(call["value1"] + " " + call["value2"] + " " + call["value4"] + " " +
                      call["value3"] + " " + call["value6"] + " " + call["value5"],
                  c.out);
        EXPECT_EQ(call["alwaysOne"], "1");
    }
}

TEST_F(NativeMethodTest, NullText2PointsAtTheStaticEmptyStringAnEmptyOneAtItsBuffer) {
    Java_com_quendal_javapos_readersetupkit_ReaderSetupKit_UploadConfigFile(
        jni.env(), nullptr, jni.NewString(u"a"), 0, 0, 0, 0, 0, 0, nullptr);
    Fields call = LastCall();
    EXPECT_EQ(call["function"], "UploadConfigFile");
    EXPECT_EQ(call["text2"], "");
    EXPECT_EQ(call["text2IsText3"], "1");
    EXPECT_EQ(jni.stringsObtained, 1);

    Java_com_quendal_javapos_readersetupkit_ReaderSetupKit_UploadConfigFile(
        jni.env(), nullptr, jni.NewString(u"a"), 0, 0, 0, 0, 0, 0, jni.NewString(u""));
    call = LastCall();
    EXPECT_EQ(call["text2"], "");
    EXPECT_EQ(call["text2IsText3"], "0");
    EXPECT_EQ(call["text3"], "");
    EXPECT_EQ(jni.stringsReleased, 3);
    EXPECT_EQ(Log(), (Events{"load", "call", "unload", "load", "call", "unload"}));
}

TEST_F(NativeMethodTest, TextsArriveAsTheJavaStringsUnitsUpToAFullBuffer) {
    const std::u16string longest(1254, u'x');
    const std::u16string foreign = u"Z\u00FC\u20AC\U0001F600 \xD800";  // last: a lone surrogate
    StoreResult(0);
    EXPECT_EQ(
        Java_com_quendal_javapos_readersetupkit_ReaderSetupKit_DownloadConfigFile(
            jni.env(), nullptr, jni.NewString(longest), 0, 0, 0, 0, 0, 0, jni.NewString(foreign)),
        0);
    Fields call = LastCall();
    // Terminated within the buffer: the terminator is its last unit.
    EXPECT_EQ(call["text1"], Utf16Hex(longest));
    EXPECT_EQ(call["text2"], Utf16Hex(foreign));
}

TEST_F(NativeMethodTest, ManyCallsLeaveNoLibraryLoadedAndNoDescriptorOpen) {
    const long handles = test::OpenHandleCount();
    ASSERT_GT(handles, 0);
    const jstring text = jni.NewString(u"C:\\cfg\\till.cfg");
    for (int i = 0; i < test::kLeakTestCalls; ++i) {
        const auto method =
            i % 2 == 0 ? &Java_com_quendal_javapos_readersetupkit_ReaderSetupKit_DownloadConfigFile
                       : &Java_com_quendal_javapos_readersetupkit_ReaderSetupKit_UploadConfigFile;
        method(jni.env(), nullptr, text, 1, 1, 1, 1, 1, 1, text);
    }
    // Each call loaded, called and unloaded the library.
    EXPECT_EQ(Log().size(), 3u * test::kLeakTestCalls);
    EXPECT_FALSE(test::LibraryLoaded(kConfigLibraryFile));
    EXPECT_EQ(test::OpenHandleCount(), handles);
}

TEST_F(NativeMethodTest, FlashRefusedReturnsWithoutPause) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Java_com_quendal_javapos_readersetupkit_ReaderSetupKit_FlashScannerFile(
                  jni.env(), nullptr, nullptr, 0, 0, 0, 0, 0, 0, nullptr),
              -1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(Log(), kNotCalled);
}

}  // namespace
}  // namespace quen::config
