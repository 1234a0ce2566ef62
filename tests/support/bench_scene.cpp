#include "tests/support/bench_scene.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>

#include "diag/model_table.h"
#include "layout/fixed_text.h"
#include "layout/partition_txt.h"

namespace veltrix::testing {
namespace fs = std::filesystem;

namespace {

// The test images of the two-phase SDRAM test, by name.
constexpr const char* kTestImageNames[] = {"sbl1.mbn", "sbl2.mbn", "oemsblhd.mbn", "oemsbl.mbn"};

std::string HexRecord(uint8_t type, uint16_t address, const uint8_t* data, size_t count) {
    uint8_t sum = static_cast<uint8_t>(count + (address >> 8) + address + type);
    char text[16];
    std::snprintf(text, sizeof text, ":%02X%04X%02X", static_cast<unsigned>(count), address, type);
    std::string line = text;
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(text, sizeof text, "%02X", data[i]);
        line += text;
        sum = static_cast<uint8_t>(sum + data[i]);
    }
    std::snprintf(text, sizeof text, "%02X\n", static_cast<uint8_t>(-sum));
    return line + text;
}

// Writes `bytes` at `offset` of the open file (a hole stays where nothing was written).
void WriteAt(std::fstream& file, uint64_t offset, const Bytes& bytes) {
    file.seekp(static_cast<std::streamoff>(offset));
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

void PutLe32(Bytes& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

Bytes NameTable(const TotalImage& image, bool decoy) {
    Bytes table(image.records.size() * 32);
    for (size_t i = 0; i < image.records.size(); ++i) {
        const std::string name =
            decoy ? std::string("decoy").append(std::to_string(i)) : image.records[i].name;
        std::copy_n(name.begin(), std::min<size_t>(name.size(), 32), table.begin() + i * 32);
    }
    return table;
}

constexpr uint64_t kImageDataArea = 0x100000;

template <size_t N>
void PutField(std::array<char, N>& field, const std::string& text) {
    std::copy_n(text.begin(), std::min(text.size(), N), field.begin());
}

}  // namespace

Bytes Noise(size_t size, unsigned seed) {
    Bytes bytes(size);
    uint32_t x = seed * 2654435761u + 7;
    for (uint8_t& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    return bytes;
}

TempFolder::TempFolder(const fs::path& base) {
    std::random_device random;
    for (;;) {
        path_ = base / ("veltrix-test-" + std::to_string(random()));
        std::error_code ec;
        if (fs::create_directory(path_, ec)) {
            return;
        }
    }
}

TempFolder::~TempFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

ScopedEnv::ScopedEnv(std::string name, const std::string& value) : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str())) {
        saved_ = old;
    }
#ifdef _WIN32
    _putenv_s(name_.c_str(), value.c_str());
#else
    setenv(name_.c_str(), value.c_str(), 1);
#endif
}

ScopedEnv::~ScopedEnv() {
#ifdef _WIN32
    _putenv_s(name_.c_str(), saved_ ? saved_->c_str() : "");
#else
    if (saved_) {
        setenv(name_.c_str(), saved_->c_str(), 1);
    } else {
        unsetenv(name_.c_str());
    }
#endif
}

Bytes ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const fs::path& path, const Bytes& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

void WriteText(const fs::path& path, const std::string& text) {
    WriteBytes(path, Bytes(text.begin(), text.end()));
}

Lines ListFolder(const fs::path& folder) {
    Lines names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string IntelHex(const Bytes& data, uint32_t address) {
    std::string text;
    uint32_t upper = ~0u;
    for (size_t at = 0; at < data.size(); at += 16) {
        const uint32_t where = address + static_cast<uint32_t>(at);
        if (where >> 16 != upper) {
            upper = where >> 16;
            const uint8_t bytes[] = {static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper)};
            text += HexRecord(0x04, 0, bytes, 2);
        }
        text += HexRecord(0x00, static_cast<uint16_t>(where), data.data() + at,
                          std::min<size_t>(16, data.size() - at));
    }
    const uint8_t start[] = {static_cast<uint8_t>(address >> 24),
                             static_cast<uint8_t>(address >> 16),
                             static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address)};
    return text + HexRecord(0x05, 0, start, 4) + ":00000001FF\n";
}

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

Bytes RecordData(size_t record, uint64_t offset, size_t count) {
    Bytes bytes(count);
    for (size_t i = 0; i < count; ++i) {
        const uint64_t at = offset + i;
        bytes[i] = static_cast<uint8_t>(1 + (record * 37 + at * 7 + at / 512) % 251);
    }
    return bytes;
}

uint64_t TotalImageSize(const TotalImage& image) {
    uint64_t size = kImageDataArea;
    for (const ImageRecord& record : image.records) {
        size += uint64_t{record.sectorCount} * 512;
    }
    return size;
}

void WriteTotalImage(const fs::path& path, const TotalImage& image) {
    std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out | std::ios::trunc);
    Bytes table((image.records.size() + 1) * 16);
    for (size_t i = 0; i < image.records.size(); ++i) {
        PutLe32(table, i * 16, image.records[i].startSector);
        PutLe32(table, i * 16 + 8, image.records[i].sectorCount);
    }
    PutLe32(table, image.records.size() * 16, image.terminated ? 0xFFFFFFFF : 0);
    WriteAt(file, 0x2010, table);
    Bytes mark(4);
    PutLe32(mark, 0, image.nearLayoutMark ? 0x56781234 : 0x12345678);
    WriteAt(file, 0x4000, mark);
    WriteAt(file, image.nearLayoutMark ? 0x4220 : 0x6230, NameTable(image, false));
    if (image.records.size() * 32 <= 0x6230 - 0x4220) {
        WriteAt(file, image.nearLayoutMark ? 0x6230 : 0x4220, NameTable(image, true));
    }
    uint64_t offset = kImageDataArea;
    for (size_t i = 0; i < image.records.size(); ++i) {
        const uint64_t length = uint64_t{image.records[i].sectorCount} * 512;
        for (uint64_t done = 0; done < length && !image.records[i].holes; done += 0x10000) {
            const auto count = static_cast<size_t>(std::min<uint64_t>(length - done, 0x10000));
            WriteAt(file, offset + done, RecordData(i, done, count));
        }
        offset += length;
    }
    file.close();
    fs::resize_file(path, offset);
}

std::string HexRecordLine(uint8_t type, uint16_t address, const Bytes& data) {
    return HexRecord(type, address, data.data(), data.size());
}

std::string HexDataLines(uint16_t offset, const Bytes& data, size_t recordSize) {
    std::string text;
    for (size_t i = 0; i < data.size(); i += recordSize) {
        const size_t n = std::min(recordSize, data.size() - i);
        text += HexRecord(0x00, static_cast<uint16_t>(offset + i), data.data() + i, n);
    }
    return text;
}

BenchScene::BenchScene() : ports_("VELTRIX_PORTS", (folder_.path() / "ports").string()) {
    fs::create_directories(workDir());
    fs::create_directories(targetDir());
    fs::create_directories(portsFolder());
}

fs::path BenchScene::ModelFolder(const std::string& model) const {
    return veltrix::ModelFolder(workDir(), model);
}

void BenchScene::WriteModel(const std::string& model, const Lines& labels) {
    const fs::path folder = ModelFolder(model);
    if (ModelClass(model, ModelQuery::LoaderFamily) == kSaharaLoader) {
        WriteBytes(folder / "2nd_loader.hex", programmer);
    } else {
        WriteText(folder / "2nd_loader.hex", IntelHex(programmer, 0x10000));
    }
    WriteBytes(folder / "ddr_debug.mbn", ddrImage);
    unsigned seed = 10;
    for (const char* name : kTestImageNames) {
        WriteBytes(folder / "test_image" / name, Noise(1500, seed++));
    }
    fs::create_directories(folder / "dump");
    WriteProgramList(model, labels);
}

void BenchScene::WriteProgramList(const std::string& model, const Lines& labels) {
    std::string xml = "<?xml version=\"1.0\" ?>\n<data>\n";
    for (const std::string& label : labels) {
        xml += "  <program filename=\"" + label + ".mbn\" label=\"" + label +
               "\" num_partition_sectors=\"1\" start_sector=\"0\"/>\n";
    }
    WriteText(ModelFolder(model) / "boot_partition_info" / "rawprogram0.xml", xml + "</data>\n");
}

void BenchScene::WritePartitions(const std::vector<Partition>& partitions, bool images) {
    std::vector<PartitionTxtRecord> records;
    unsigned seed = 100;
    for (const Partition& p : partitions) {
        PartitionTxtRecord r;
        r.startSector = p.start;
        r.sectorCount = p.count;
        const std::string file = p.fileName.empty() ? p.label + ".mbn" : p.fileName;
        PutField(r.label, p.label);
        PutField(r.fileName, file);
        records.push_back(r);
        if (images && IsSafeFileName(file)) {
            WriteBytes(targetDir() / file, Noise(size_t{p.count} * 512, seed));
        }
        ++seed;
    }
    WritePartitionTxt(targetDir(), records);
}

}  // namespace veltrix::testing
