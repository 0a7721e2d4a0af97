#include <gtest/gtest.h>

#include <string>

#include "config/modified_utf8.h"
#include "support/fake_jni.h"

namespace quen::config {
namespace {

std::u16string Decode(const std::string& text, std::ptrdiff_t* count) {
    WideUnit out[16] = {};
    *count = DecodeModifiedUtf8(text.c_str(), out, 16);
    return std::u16string(out, out + (*count > 0 ? *count : 0));
}

TEST(ModifiedUtf8, EachSequenceIsOneUnitSurrogatesIncluded) {
    std::ptrdiff_t count = 0;
    // a, U+00FC, U+20AC, U+1F600 as the JVM writes it (two 3-byte surrogates), U+0000, z
    EXPECT_EQ(Decode("a\xC3\xBC\xE2\x82\xAC\xED\xA0\xBD\xED\xB8\x80\xC0\x80z", &count),
              std::u16string(u"a\u00FC\u20AC\U0001F600") + u'\0' + u"z");
    EXPECT_EQ(count, 7);
    EXPECT_EQ(Decode("", &count), u"");
    EXPECT_EQ(count, 0);
}

TEST(ModifiedUtf8, EveryUnitSurvivesTheJvmEncoding) {
    for (unsigned u = 0; u <= 0xFFFF; ++u) {
        const std::u16string unit(1, static_cast<char16_t>(u));
        std::ptrdiff_t count = 0;
        ASSERT_EQ(Decode(quen::test::FakeJni::ModifiedUtf8(unit), &count), unit) << u;
    }
}

TEST(ModifiedUtf8, RefusesWhatNoJvmWrites) {
    const char* const malformed[] = {
        "\x80",              // continuation without a lead
        "a\xC3",             // cut at the terminator
        "\xE2\x82",          // cut at the terminator
        "\xE2\x82z",         // a plain byte where a continuation belongs
        "\xF0\x9F\x98\x80",  // 4-byte form: modified UTF-8 writes surrogates instead
        "\xC1\xBF",          // overlong 'DEL'
        "\xE0\x9F\xBF",      // overlong U+07FF
    };
    for (const char* text : malformed) {
        WideUnit out[4] = {};
        EXPECT_EQ(DecodeModifiedUtf8(text, out, 4), -1) << text;
    }
}

TEST(ModifiedUtf8, NeverWritesPastCapacity) {
    WideUnit out[6] = {0, 0, 0, 0, 0x5A5A, 0x5A5A};
    EXPECT_EQ(DecodeModifiedUtf8("abcd", out, 4), 4);
    EXPECT_EQ(DecodeModifiedUtf8("abcde", out, 4), -1);
    EXPECT_EQ(
        DecodeModifiedUtf8("\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xC0\x80", out, 4), -1);
    EXPECT_EQ(out[4], 0x5A5A);
    EXPECT_EQ(out[5], 0x5A5A);
}

}  // namespace
}  // namespace quen::config
