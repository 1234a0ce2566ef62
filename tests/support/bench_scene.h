#pragma once
// The one test scene: a bench laid out on disk in a temporary folder that goes away with the
// scene (a work folder with model folders, a target directory with partition.txt and images, a
// private ports folder that $VELTRIX_PORTS names while the scene lives), the writers for what
// lies there, and the suite's one byte pattern. Portable: nothing here needs a pseudo-terminal.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace veltrix::testing {

using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;

// Deterministic bytes with every value, 0x7E and 0x7D included: the suite's one pattern.
Bytes Noise(size_t size, unsigned seed = 1);

// A new folder of its own, removed with everything in it when the object goes.
class TempFolder {
public:
    TempFolder() : TempFolder(std::filesystem::temp_directory_path()) {}
    // In `base` (the fuzz targets' scratch folder is on a memory file system where there is one).
    explicit TempFolder(const std::filesystem::path& base);
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// An environment variable set for the object's life; the earlier value (or its absence) comes
// back after.
class ScopedEnv {
public:
    ScopedEnv(std::string name, const std::string& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> saved_;
};

Bytes ReadBytes(const std::filesystem::path& path);
// Writes the file whole (folders made as needed).
void WriteBytes(const std::filesystem::path& path, const Bytes& bytes);
void WriteText(const std::filesystem::path& path, const std::string& text);
// The names in `folder`, sorted.
Lines ListFolder(const std::filesystem::path& folder);

// Intel-HEX text of `data` loaded at `address`: data records of 16 bytes, an 04 record at every
// 64 KiB, the start address and the end record.
std::string IntelHex(const Bytes& data, uint32_t address);
// One Intel-HEX record line with its checksum; data records of `recordSize` bytes covering
// `data` at 16-bit addresses from `offset`.
std::string HexRecordLine(uint8_t type, uint16_t address, const Bytes& data);
std::string HexDataLines(uint16_t offset, const Bytes& data, size_t recordSize = 16);

// `n` bytes of `bytes` from `from`.
inline Bytes Slice(const Bytes& bytes, size_t from, size_t n) {
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                 bytes.begin() + static_cast<std::ptrdiff_t>(from + n));
}

// The extended-address (04) and start-address (05) records, and the end record.
inline std::string HexUpper(uint16_t upper) {
    return HexRecordLine(0x04, 0, {static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper)});
}
inline std::string HexStart(uint32_t start) {
    return HexRecordLine(0x05, 0,
                         {static_cast<uint8_t>(start >> 24), static_cast<uint8_t>(start >> 16),
                          static_cast<uint8_t>(start >> 8), static_cast<uint8_t>(start)});
}
inline const std::string kHexEnd = ":00000001FF\n";

// `parts` one after the other.
Bytes Join(std::initializer_list<Bytes> parts);

// A total binary image for the extraction: the record table at 0x2010, the layout mark at 0x4000
// and the name table it selects (the other table holds decoy names, so reading the wrong one
// shows), each record's data from 1 MiB on. Unused areas are holes.
struct ImageRecord {
    uint32_t startSector = 0;
    uint32_t sectorCount = 0;
    std::string name;    // raw name bytes, at most 32 (a 32-byte name has no terminator)
    bool holes = false;  // data left as a hole (reads as zeros) instead of RecordData
};
struct TotalImage {
    std::vector<ImageRecord> records;
    bool terminated = true;
    bool nearLayoutMark = true;  // 34 12 78 56 at 0x4000: names at 0x4220, else at 0x6230
};
// Bytes `offset`.. of record `record`'s data: never zero, so a gap or a hole read as data shows.
Bytes RecordData(size_t record, uint64_t offset, size_t count);
void WriteTotalImage(const std::filesystem::path& path, const TotalImage& image);
uint64_t TotalImageSize(const TotalImage& image);

// One partition of partition.txt; the file name is label + ".mbn" when empty.
struct Partition {
    Partition(std::string l, uint32_t s, uint32_t c, std::string f = "")
        : label(std::move(l)), start(s), count(c), fileName(std::move(f)) {}
    std::string label;
    uint32_t start;
    uint32_t count;
    std::string fileName;
};

inline constexpr const char* kDloadModel = "Tamsin (APQ8064)";   // DLOAD, sbl2/PrimaryGPT set
inline constexpr const char* kSaharaModel = "Corvin (MSM8974)";  // Sahara, sbl1 set, PMIC 4
inline constexpr const char* kDdrModel = "Amberly (MSM8926)";    // Sahara, DDR-debug image
inline constexpr int kBoardPort = 14;  // the COM number of the scene's simulated board

class BenchScene {
public:
    BenchScene();

    const std::filesystem::path& root() const { return folder_.path(); }
    std::filesystem::path workDir() const { return root() / "work"; }
    std::filesystem::path targetDir() const { return root() / "target"; }
    std::filesystem::path portsFolder() const { return root() / "ports"; }
    std::filesystem::path ModelFolder(const std::string& model) const;

    // The model's folder: the flash programmer (Intel HEX of `programmer` at 0x10000, or raw for
    // a Sahara model), "ddr_debug.mbn" (`ddrImage`), the four test images of "test_image", the
    // "dump" folder and a rawprogram0.xml listing `labels`.
    void WriteModel(const std::string& model, const Lines& labels = {});
    // rawprogram0.xml of the model, listing `labels` in this order.
    void WriteProgramList(const std::string& model, const Lines& labels);
    // partition.txt of the target directory; with `images`, each partition's image file too
    // (Noise of its whole size, seeded by its position).
    void WritePartitions(const std::vector<Partition>& partitions, bool images = true);
    // A partition's image as WritePartitions wrote it.
    Bytes Image(const std::string& label) const {
        return ReadBytes(targetDir() / (label + ".mbn"));
    }
    std::filesystem::path TestImage(const std::string& model, const std::string& name) const {
        return ModelFolder(model) / "test_image" / name;
    }

    Bytes programmer = Noise(3000, 1);
    Bytes ddrImage = Noise(2500, 2);

private:
    TempFolder folder_;
    ScopedEnv ports_;
};

}  // namespace veltrix::testing
