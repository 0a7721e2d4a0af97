// The version resource of each shipped DLL, read the way Windows reads it for the file's
// Properties dialog. The DLLs lie beside this program.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

namespace quen::test {
namespace {

std::string BesideThisProgram(const std::string& file) {
    char self[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string path(self, length);
    return path.substr(0, path.find_last_of("\\/") + 1) + file;
}

class VersionResource : public ::testing::TestWithParam<const char*> {
  protected:
    void SetUp() override {
        const std::string path = BesideThisProgram(std::string(GetParam()) + ".dll");
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
        ASSERT_GT(size, 0u) << path << " has no version resource";
        block_.resize(size);
        ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, block_.data()));
    }

    std::string Text(const char* name) {
        const std::string key = std::string("\\StringFileInfo\\040904B0\\") + name;
        void* value = nullptr;
        UINT length = 0;
        if (!VerQueryValueA(block_.data(), key.c_str(), &value, &length) || length == 0) {
            return "<missing>";
        }
        return std::string(static_cast<const char*>(value));
    }

    std::vector<char> block_;
};

TEST_P(VersionResource, NamesTheProductTheLibraryAndTheVersion) {
    EXPECT_EQ(Text("ProductName"), "quenlink");
    EXPECT_EQ(Text("OriginalFilename"), std::string(GetParam()) + ".dll");
    EXPECT_EQ(Text("FileVersion"), QUEN_PROJECT_VERSION);
    EXPECT_NE(Text("FileDescription"), "<missing>");
    EXPECT_NE(Text("FileDescription"), "");

    void* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block_.data(), "\\", &value, &length));
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    const std::string numeric = std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
                                std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
                                std::to_string(HIWORD(fixed->dwFileVersionLS));
    EXPECT_EQ(numeric, QUEN_PROJECT_VERSION);
}

INSTANTIATE_TEST_SUITE_P(ShippedDlls, VersionResource, ::testing::Values(QUEN_SHIPPED_DLLS));

}  // namespace
}  // namespace quen::test
