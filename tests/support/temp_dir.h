// A folder of a test's own under the system's temp folder, removed with all it holds when the
// test ends: for code that reads a tree of files (a sysfs class folder laid out by hand).
// POSIX only (mkdtemp).
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

namespace quen::test {

class TempDir {
  public:
    TempDir() {
        std::string name = (std::filesystem::temp_directory_path() / "quenlink-XXXXXX").string();
        if (mkdtemp(name.data()) != nullptr) {
            path_ = name;
        }
        EXPECT_FALSE(path_.empty()) << "no temp folder";
    }
    ~TempDir() {
        std::error_code ignored;
        if (!path_.empty()) {
            std::filesystem::remove_all(path_, ignored);
        }
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }

    // Writes the file at `relative`, making the folders on the way.
    void Write(const std::string& relative, const std::string& text) const {
        WriteBytes(relative, text.data(), text.size());
    }
    void Write(const std::string& relative, const std::vector<std::uint8_t>& bytes) const {
        WriteBytes(relative, reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }

  private:
    void WriteBytes(const std::string& relative, const char* data, std::size_t size) const {
        const std::filesystem::path file = std::filesystem::path(path_) / relative;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream out(file, std::ios::binary);
        out.write(data, static_cast<std::streamsize>(size));
        EXPECT_TRUE(out.good()) << "cannot write " << file;
    }

    std::string path_;
};

}  // namespace quen::test
