#pragma once
// Helpers of the layout tests: a recording run log, a private temporary folder, file helpers and
// a builder of small total binary images (sparse where large).

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "layout/log_view.h"

namespace veltrix::testing {

// Keeps the run-log list as a front end would, and records every call in order.
class RecordingLogView : public LogView {
public:
    void InsertLogLine(int position, const std::string& text) override;
    void DeleteLogLine(int position) override;
    void SelectLastLogLine() override;
    void ShowMessage(const std::string& text) override;

    std::vector<std::string> lines;     // the list as it stands
    std::vector<int> insertPositions;   // position of every insert
    int selectionsAfterInsert = 0;      // inserts that were followed at once by a selection
    std::vector<std::string> messages;  // message boxes, in order

private:
    bool lastWasInsert_ = false;
};

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

std::string ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes);
// File names in `dir`, sorted.
std::vector<std::string> ListDir(const std::filesystem::path& dir);

struct TestRecord {
    uint32_t startSector = 0;
    uint32_t sectorCount = 0;
    std::string name;    // raw name bytes, at most 32 (a 32-byte name has no terminator)
    bool holes = false;  // data left as a hole (reads as zeros) instead of the test pattern
};

struct TestImage {
    std::vector<TestRecord> records;
    bool terminated = true;
    bool nearLayoutMark = true;  // 34 12 78 56 at 0x4000: names at 0x4220, else at 0x6230
};

// The test pattern: byte `offset` of record `record`'s data. Never zero.
uint8_t PatternByte(size_t record, uint64_t offset);
std::string PatternBytes(size_t record, uint64_t offset, size_t count);

// Writes the image; the unused areas are holes. The names are also written, with different text,
// at the name-table offset the mark does not select, so reading the wrong table shows.
void WriteTestImage(const std::filesystem::path& path, const TestImage& image);
uint64_t TestImageSize(const TestImage& image);

}  // namespace veltrix::testing
