// The total-image extraction into a folder that may hold planted links, folders and files. The
// input gives the record table, the names, a cut of the image and what is planted. Checks:
// nothing outside the output folder is created, changed or removed (a victim file that planted
// links point to keeps its bytes); no temporary file of the extraction stays; success means
// "completed.  ", a partition.txt of its own (no link) whose records are the table's, and files
// whose bytes are the pieces with zero gaps; a failure after the first file leaves no index.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <map>
#include <string>

#include "base/byte_order.h"
#include "fuzz/fuzz_support.h"
#include "layout/fixed_text.h"
#include "layout/image_extraction.h"
#include "layout/partition_txt.h"

namespace veltrix::fuzz {
namespace {

namespace fs = std::filesystem;

constexpr uint64_t kDataArea = 0x100000;
const std::string kVictimBytes = "victim bytes";

struct Record {
    uint32_t start = 0;
    uint32_t count = 0;
    std::string name;
};

class RecordingView final : public LogView {
public:
    void InsertLogLine(int position, const std::string& text) override {
        lines.insert(lines.begin() + position, text);
    }
    void DeleteLogLine(int position) override { lines.erase(lines.begin() + position); }
    void SelectLastLogLine() override {}
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    std::vector<std::string> lines;
    std::vector<std::string> messages;
};

uint8_t DataByte(size_t record, uint64_t offset) {
    return static_cast<uint8_t>(1 + (record * 31 + offset * 7 + offset / 251) % 255);
}

void Put(Bytes& bytes, uint64_t at, std::span<const uint8_t> piece) {
    if (bytes.size() < at + piece.size()) {
        bytes.resize(at + piece.size());
    }
    std::copy(piece.begin(), piece.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
}

// An image kept as its tables and its data area; the 1 MiB between them is a hole on disk.
struct Image {
    Bytes tables;  // from offset 0, at most up to the name tables' end
    Bytes data;    // from offset 0x100000
    uint64_t size = 0;

    void Write(const std::filesystem::path& path) const {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        FUZZ_CHECK(fd >= 0);
        const size_t head = static_cast<size_t>(std::min<uint64_t>(tables.size(), size));
        FUZZ_CHECK(::pwrite(fd, tables.data(), head, 0) == static_cast<ssize_t>(head));
        if (size > kDataArea) {
            const size_t tail = static_cast<size_t>(size - kDataArea);
            FUZZ_CHECK(::pwrite(fd, data.data(), tail, kDataArea) == static_cast<ssize_t>(tail));
        }
        FUZZ_CHECK(::ftruncate(fd, static_cast<off_t>(size)) == 0);
        ::close(fd);
    }
    Bytes Whole() const {
        Bytes bytes(size);
        std::copy_n(tables.begin(), std::min<uint64_t>(tables.size(), size), bytes.begin());
        if (size > kDataArea) {
            std::copy_n(data.begin(), size - kDataArea, bytes.begin() + kDataArea);
        }
        return bytes;
    }
};

Image BuildImage(const std::vector<Record>& records, bool near) {
    Image image;
    uint64_t at = 0x2010;
    for (const Record& r : records) {
        std::array<uint8_t, 16> raw{};
        PutLe32(raw.data(), r.start);
        PutLe32(raw.data() + 8, r.count);
        Put(image.tables, at, raw);
        at += 16;
    }
    const std::array<uint8_t, 4> terminator{0xFF, 0xFF, 0xFF, 0xFF};
    Put(image.tables, at, terminator);
    const std::array<uint8_t, 4> mark{0x34, 0x12, 0x78, near ? uint8_t{0x56} : uint8_t{0}};
    Put(image.tables, 0x4000, mark);
    uint64_t names = near ? 0x4220 : 0x6230;
    for (const Record& r : records) {
        std::array<uint8_t, 32> field{};
        std::copy_n(r.name.begin(), std::min<size_t>(r.name.size(), 32), field.begin());
        Put(image.tables, names, field);
        names += 32;
    }
    for (size_t i = 0; i < records.size(); ++i) {
        for (uint64_t b = 0; b < uint64_t{records[i].count} * 512; ++b) {
            image.data.push_back(DataByte(i, b));
        }
    }
    image.size = kDataArea + image.data.size();
    return image;
}

std::string Name(Reader& in) {
    static const char kAlphabet[] = {'a', 'b', '.', '/', '\\', '\x01', '\xE9', ' '};
    std::string name(in.Byte() % 6, 'a');
    for (char& c : name) {
        c = kAlphabet[in.Byte() % sizeof kAlphabet];
    }
    return name;
}

// Plants something at a name in `out`: a link to the victim, a dangling link, a folder or a file.
void Plant(Reader& in, const fs::path& sandbox, const fs::path& out,
           const std::vector<Record>& records) {
    for (int i = in.Byte() % 4; i > 0; --i) {
        const uint8_t what = in.Byte();
        std::string name = "partition.txt";
        if (!records.empty() && what % 3 != 0) {
            const std::string& base = records[in.Byte() % records.size()].name;
            if (base.empty() || base.find('/') != std::string::npos || base == "." ||
                base == "..") {
                continue;
            }
            name = Latin1ToUtf8(base) + ".mbn";
        }
        if (what & 8) {
            name += ".tmp";
        }
        const fs::path at = out / name;
        std::error_code ec;
        if (fs::exists(fs::symlink_status(at, ec))) {
            continue;  // planting a file through an earlier planted link would be our own doing
        }
        switch ((what >> 4) % 4) {
            case 0:
                fs::create_symlink(sandbox / "victim", at, ec);
                break;
            case 1:
                fs::create_symlink(sandbox / "created-through-a-link", at, ec);
                break;
            case 2:
                fs::create_directory(at, ec);
                break;
            default:
                WriteAll(at, Bytes{'o', 'l', 'd'});
                break;
        }
    }
}

// The files a complete extraction writes, name by name.
std::map<std::string, Bytes> ExpectedFiles(const std::vector<Record>& records) {
    std::map<std::string, Bytes> files;
    for (size_t i = 0; i < records.size(); ++i) {
        Bytes& file = files[Latin1ToUtf8(records[i].name) + ".mbn"];
        if (i > 0 && records[i - 1].name == records[i].name) {
            const Record& before = records[i - 1];
            file.resize(file.size() +
                        (uint64_t{records[i].start} - before.start - before.count) * 512);
        }
        for (uint64_t b = 0; b < uint64_t{records[i].count} * 512; ++b) {
            file.push_back(DataByte(i, b));
        }
    }
    return files;
}

Bytes ExpectedIndex(const std::vector<Record>& records) {
    Bytes index;
    for (const Record& r : records) {
        PartitionTxtRecord record;
        record.startSector = r.start;
        record.sectorCount = r.count;
        const std::string file = r.name + ".mbn";
        std::copy(r.name.begin(), r.name.end(), record.label.begin());
        std::copy(file.begin(), file.end(), record.fileName.begin());
        std::array<uint8_t, kPartitionTxtRecordSize> bytes{};
        EncodePartitionTxtRecord(record, bytes);
        index.insert(index.end(), bytes.begin(), bytes.end());
    }
    return index;
}

}  // namespace
}  // namespace veltrix::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace veltrix;
    using namespace veltrix::fuzz;
    Reader in(data, size);
    const uint8_t flags = in.Byte();
    std::vector<Record> records(in.Byte() % 8);
    for (Record& r : records) {
        r.start = in.Byte();
        r.count = in.Byte() % 8;
        r.name = Name(in);
    }
    Image image = BuildImage(records, flags & 1);
    if (flags & 2) {
        image.size = in.U32() % (image.size + 1);
    }

    const fs::path sandbox = ScratchFolder() / "sandbox";
    const fs::path out = sandbox / "out";
    std::error_code ec;
    fs::remove_all(sandbox, ec);
    fs::create_directories(out);
    WriteAll(sandbox / "victim", Bytes(kVictimBytes.begin(), kVictimBytes.end()));
    // The image inside the output folder now and then: it must never be overwritten.
    const fs::path bin = (flags & 4) && !records.empty() && records[0].name == "a"
                             ? out / "a.mbn"
                             : sandbox / "total.bin";
    image.Write(bin);
    Plant(in, sandbox, out, records);
    const std::vector<std::string> outsideBefore = ListNames(sandbox);
    std::vector<std::string> plantedTemporaries;
    for (const std::string& name : ListNames(out)) {
        if (name.ends_with(".tmp")) {
            plantedTemporaries.push_back(name);
        }
    }

    RecordingView view;
    const int result = ExtractTotalImage(bin, out, view);

    FUZZ_CHECK(ListNames(sandbox) == outsideBefore);
    const Bytes victim = ReadAll(sandbox / "victim");
    FUZZ_CHECK(std::string(victim.begin(), victim.end()) == kVictimBytes);
    FUZZ_CHECK(!fs::exists(sandbox / "created-through-a-link"));
    for (const std::string& name : ListNames(out)) {
        FUZZ_CHECK(!name.ends_with(".tmp") ||
                   std::find(plantedTemporaries.begin(), plantedTemporaries.end(), name) !=
                       plantedTemporaries.end());
    }
    if (bin.parent_path() == out) {
        FUZZ_CHECK(ReadAll(bin) == image.Whole());
    }
    const bool completed = view.messages == std::vector<std::string>{"completed.  "};
    FUZZ_CHECK((result == kErrorSuccess) == completed);
    const fs::path index = out / kPartitionTxtName;
    if (result == kErrorSuccess) {
        FUZZ_CHECK(fs::is_regular_file(fs::symlink_status(index)));
        FUZZ_CHECK(ReadAll(index) == ExpectedIndex(records));
        for (const auto& [name, bytes] : ExpectedFiles(records)) {
            FUZZ_CHECK(fs::is_regular_file(fs::symlink_status(out / name)));
            FUZZ_CHECK(ReadAll(out / name) == bytes);
        }
        return 0;
    }
    // Once a partition's file was written, no index may describe the folder.
    const bool wroteAFile = std::any_of(view.lines.begin(), view.lines.end(), [](auto& line) {
        return line.find(" -- 0x") != std::string::npos;
    });
    if (wroteAFile) {
        FUZZ_CHECK(!fs::exists(fs::symlink_status(index)));
    }
    return 0;
}
