#pragma once
// The file-I/O tests' own folder. They build without the test scene: the portable fallback of
// the file-I/O place is linked into them in place of the library's.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "base/file_io.h"
#include "base/result_codes.h"

namespace veltrix {

namespace fs = std::filesystem;

inline std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class FileIoTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* unit = ::testing::UnitTest::GetInstance();
        dir_ =
            fs::temp_directory_path() / ("veltrix-file-io-" + std::to_string(unit->random_seed()) +
                                         "-" + unit->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    size_t Entries() const {
        return static_cast<size_t>(
            std::distance(fs::directory_iterator(dir_), fs::directory_iterator()));
    }
    fs::path dir_;
};

}  // namespace veltrix
