#include "sim/sdram_test_image.h"

#include <fstream>

namespace veltrix::sim {

SdramPartitionNames SdramPartitionsFor(int loaderFamily) {
    switch (loaderFamily) {
        case 0:
            return {"sbl1", "sbl1"};
        case 2:
            return {"OEMSBL1", "QCSBL"};
        default:
            return {"sbl2", "PrimaryGPT"};
    }
}

bool SdramTestImage::Configure(const BoardOptions& options, std::string* error) {
    record_ = options.verdictRecord;
    if (record_.size() > kSectorSize) {
        *error = "the verdict record is longer than one sector";
        return false;
    }
    if (!options.partitionTxt.empty()) {
        auto table = LoadPartitionTxt(options.partitionTxt, error);
        if (!table) {
            return false;
        }
        table_ = std::move(*table);
        const SdramPartitionNames names = SdramPartitionsFor(options.loaderFamily);
        boot_ = FindPartition(table_, names.boot);
        verdict_ = FindPartition(table_, names.verdict);
    }
    if (!options.sdramTestImagePath.empty()) {
        std::ifstream in(options.sdramTestImagePath, std::ios::binary);
        signature_.resize(kSectorSize);
        in.read(reinterpret_cast<char*>(signature_.data()), kSectorSize);
        signature_.resize(in ? kSectorSize : static_cast<size_t>(in.gcount()));
        if (signature_.empty()) {
            *error = "cannot read test image " + options.sdramTestImagePath.string();
            return false;
        }
    }
    return true;
}

void SdramTestImage::NoteWrite(uint64_t offset, uint64_t length) {
    if (!boot_ || length == 0) {
        return;
    }
    const uint64_t first = uint64_t{boot_->startSector} * kSectorSize;
    if (offset >= first + kSectorSize || offset + length <= first) {
        return;
    }
    if (state_ == State::kNormal) {
        state_ = State::kArmed;
    } else if (state_ == State::kTested) {
        state_ = State::kNormal;  // the real boot image is back
    }
}

bool SdramTestImage::TestImageBoots(const EmmcImage& emmc) const {
    if (signature_.empty()) {
        return state_ != State::kNormal;
    }
    std::vector<uint8_t> head(signature_.size());
    return emmc.Read(uint64_t{boot_->startSector} * kSectorSize, head) && head == signature_;
}

bool SdramTestImage::RunAtReset(EmmcImage& emmc) {
    if (!boot_ || !verdict_ || !TestImageBoots(emmc)) {
        return false;
    }
    state_ = State::kTested;
    const std::span<const uint8_t> record(reinterpret_cast<const uint8_t*>(record_.data()),
                                          record_.size());
    return emmc.Write(uint64_t{verdict_->startSector} * kSectorSize, record);
}

}  // namespace veltrix::sim
