// The total-image extraction into a folder that may hold planted links, folders and files. The
// input gives the record table, the names, a cut of the image and what is planted. Checks:
// nothing outside the output folder is created, changed or removed (a victim file that planted
// links point to keeps its bytes); no temporary file of the extraction stays; success means
// "completed.  ", a partition.txt of its own (no link) whose records are the table's, and files
// whose bytes are the pieces with zero gaps; a failure after the first file leaves no index.

#include <algorithm>
#include <array>
#include <map>
#include <string>

#include "fuzz/fuzz_support.h"
#include "layout/fixed_text.h"
#include "layout/image_extraction.h"
#include "layout/partition_txt.h"
#include "tests/support/bench_scene.h"

namespace veltrix::fuzz {
namespace {

namespace fs = std::filesystem;
using testing::ImageRecord;
using testing::RecordData;

const std::string kVictimBytes = "victim bytes";

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
           const std::vector<ImageRecord>& records) {
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
                WriteBytes(at, Bytes{'o', 'l', 'd'});
                break;
        }
    }
}

// The files a complete extraction writes, name by name.
std::map<std::string, Bytes> ExpectedFiles(const std::vector<ImageRecord>& records) {
    std::map<std::string, Bytes> files;
    for (size_t i = 0; i < records.size(); ++i) {
        const ImageRecord& r = records[i];
        Bytes& file = files[Latin1ToUtf8(r.name) + ".mbn"];
        if (i > 0 && records[i - 1].name == r.name) {
            const ImageRecord& before = records[i - 1];
            file.resize(file.size() +
                        (uint64_t{r.startSector} - before.startSector - before.sectorCount) * 512);
        }
        const Bytes piece = RecordData(i, 0, size_t{r.sectorCount} * 512);
        file.insert(file.end(), piece.begin(), piece.end());
    }
    return files;
}

Bytes ExpectedIndex(const std::vector<ImageRecord>& records) {
    Bytes index;
    for (const ImageRecord& r : records) {
        PartitionTxtRecord record;
        record.startSector = r.startSector;
        record.sectorCount = r.sectorCount;
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
    testing::TotalImage image;
    image.nearLayoutMark = flags & 1;
    image.records.resize(in.Byte() % 8);
    for (ImageRecord& r : image.records) {
        r.startSector = in.Byte();
        r.sectorCount = in.Byte() % 8;
        r.name = Name(in);
    }
    const std::vector<ImageRecord>& records = image.records;

    const fs::path sandbox = ScratchFolder() / "sandbox";
    const fs::path out = sandbox / "out";
    std::error_code ec;
    fs::remove_all(sandbox, ec);
    fs::create_directories(out);
    WriteBytes(sandbox / "victim", Bytes(kVictimBytes.begin(), kVictimBytes.end()));
    // The image inside the output folder now and then: it must never be overwritten.
    const fs::path bin = (flags & 4) && !records.empty() && records[0].name == "a"
                             ? out / "a.mbn"
                             : sandbox / "total.bin";
    testing::WriteTotalImage(bin, image);
    if (flags & 2) {
        fs::resize_file(bin, in.U32() % (testing::TotalImageSize(image) + 1));
    }
    const Bytes imageBytes = bin.parent_path() == out ? ReadBytes(bin) : Bytes();
    Plant(in, sandbox, out, records);
    const std::vector<std::string> outsideBefore = ListFolder(sandbox);
    std::vector<std::string> plantedTemporaries;
    for (const std::string& name : ListFolder(out)) {
        if (name.ends_with(".tmp")) {
            plantedTemporaries.push_back(name);
        }
    }

    LineView view;
    const int result = ExtractTotalImage(bin, out, view);

    FUZZ_CHECK(ListFolder(sandbox) == outsideBefore);
    const Bytes victim = ReadBytes(sandbox / "victim");
    FUZZ_CHECK(std::string(victim.begin(), victim.end()) == kVictimBytes);
    FUZZ_CHECK(!fs::exists(sandbox / "created-through-a-link"));
    for (const std::string& name : ListFolder(out)) {
        FUZZ_CHECK(!name.ends_with(".tmp") ||
                   std::find(plantedTemporaries.begin(), plantedTemporaries.end(), name) !=
                       plantedTemporaries.end());
    }
    if (bin.parent_path() == out) {
        FUZZ_CHECK(ReadBytes(bin) == imageBytes);
    }
    const bool completed = view.messages == std::vector<std::string>{"completed.  "};
    FUZZ_CHECK((result == kErrorSuccess) == completed);
    const fs::path index = out / kPartitionTxtName;
    if (result == kErrorSuccess) {
        FUZZ_CHECK(fs::is_regular_file(fs::symlink_status(index)));
        FUZZ_CHECK(ReadBytes(index) == ExpectedIndex(records));
        for (const auto& [name, bytes] : ExpectedFiles(records)) {
            FUZZ_CHECK(fs::is_regular_file(fs::symlink_status(out / name)));
            FUZZ_CHECK(ReadBytes(out / name) == bytes);
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
