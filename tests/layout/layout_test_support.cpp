#include "tests/layout/layout_test_support.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace veltrix::testing {
namespace {

constexpr uint64_t kDataArea = 0x100000;
constexpr uint64_t kTable = 0x2010;

void PutLe32(std::string& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[at + i] = static_cast<char>(value >> (8 * i));
    }
}

void WriteAt(int fd, uint64_t offset, const std::string& bytes) {
    if (::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)) !=
        static_cast<ssize_t>(bytes.size())) {
        throw std::runtime_error("test image write failed");
    }
}

std::string NameTable(const TestImage& image, bool decoy) {
    std::string table(image.records.size() * 32, '\0');
    for (size_t i = 0; i < image.records.size(); ++i) {
        const std::string name =
            decoy ? std::string("decoy").append(std::to_string(i)) : image.records[i].name;
        std::copy_n(name.begin(), std::min<size_t>(name.size(), 32), table.begin() + i * 32);
    }
    return table;
}

}  // namespace

void RecordingLogView::InsertLogLine(int position, const std::string& text) {
    lines.insert(lines.begin() + position, text);
    insertPositions.push_back(position);
    lastWasInsert_ = true;
}

void RecordingLogView::DeleteLogLine(int position) {
    lines.erase(lines.begin() + position);
    lastWasInsert_ = false;
}

void RecordingLogView::SelectLastLogLine() {
    if (lastWasInsert_) {
        ++selectionsAfterInsert;
    }
    lastWasInsert_ = false;
}

void RecordingLogView::ShowMessage(const std::string& text) {
    messages.push_back(text);
    lastWasInsert_ = false;
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "veltrix-layout-XXXXXX");
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string ReadFileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

std::vector<std::string> ListDir(const std::filesystem::path& dir) {
    std::vector<std::string> names;
    for (const auto& item : std::filesystem::directory_iterator(dir)) {
        names.push_back(item.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

uint8_t PatternByte(size_t record, uint64_t offset) {
    return static_cast<uint8_t>(1 + (record * 37 + offset * 7 + offset / 512) % 251);
}

std::string PatternBytes(size_t record, uint64_t offset, size_t count) {
    std::string bytes(count, '\0');
    for (size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<char>(PatternByte(record, offset + i));
    }
    return bytes;
}

uint64_t TestImageSize(const TestImage& image) {
    uint64_t size = kDataArea;
    for (const TestRecord& record : image.records) {
        size += uint64_t{record.sectorCount} * 512;
    }
    return size;
}

void WriteTestImage(const std::filesystem::path& path, const TestImage& image) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        throw std::runtime_error("cannot create test image");
    }
    std::string table((image.records.size() + 1) * 16, '\0');
    for (size_t i = 0; i < image.records.size(); ++i) {
        PutLe32(table, i * 16, image.records[i].startSector);
        PutLe32(table, i * 16 + 8, image.records[i].sectorCount);
    }
    PutLe32(table, image.records.size() * 16, image.terminated ? 0xFFFFFFFF : 0);
    WriteAt(fd, kTable, table);
    std::string mark(4, '\0');
    PutLe32(mark, 0, image.nearLayoutMark ? 0x56781234 : 0x12345678);
    WriteAt(fd, 0x4000, mark);
    WriteAt(fd, image.nearLayoutMark ? 0x4220 : 0x6230, NameTable(image, false));
    if (image.records.size() * 32 <= 0x6230 - 0x4220) {
        WriteAt(fd, image.nearLayoutMark ? 0x6230 : 0x4220, NameTable(image, true));
    }
    uint64_t offset = kDataArea;
    for (size_t i = 0; i < image.records.size(); ++i) {
        const uint64_t length = uint64_t{image.records[i].sectorCount} * 512;
        if (!image.records[i].holes) {
            for (uint64_t done = 0; done < length; done += 0x10000) {
                const auto count = static_cast<size_t>(std::min<uint64_t>(length - done, 0x10000));
                WriteAt(fd, offset + done, PatternBytes(i, done, count));
            }
        }
        offset += length;
    }
    if (::ftruncate(fd, static_cast<off_t>(offset)) != 0) {
        throw std::runtime_error("cannot size test image");
    }
    ::close(fd);
}

}  // namespace veltrix::testing
