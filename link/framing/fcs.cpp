#include "link/framing/fcs.h"

namespace veltrix {
namespace {

constexpr uint16_t kReflectedPolynomial = 0x8408;

constexpr std::array<uint16_t, 256> MakeTable() {
    std::array<uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        uint16_t v = static_cast<uint16_t>(i);
        for (int bit = 0; bit < 8; ++bit) {
            v = (v & 1) ? static_cast<uint16_t>((v >> 1) ^ kReflectedPolynomial)
                        : static_cast<uint16_t>(v >> 1);
        }
        table[i] = v;
    }
    return table;
}

constexpr std::array<uint16_t, 256> kTable = MakeTable();

// Slice k holds the effect of a byte followed by k zero bytes, so that eight bytes are folded
// in with eight independent look-ups instead of a chain of eight. The result is the same as
// one table step per byte.
constexpr int kSlices = 8;
using SliceTables = std::array<std::array<uint16_t, 256>, kSlices>;

constexpr SliceTables MakeSlices() {
    SliceTables t{};
    t[0] = kTable;
    for (int k = 1; k < kSlices; ++k) {
        for (unsigned i = 0; i < 256; ++i) {
            const uint16_t prev = t[k - 1][i];
            t[k][i] = static_cast<uint16_t>((prev >> 8) ^ kTable[prev & 0xFF]);
        }
    }
    return t;
}

constexpr SliceTables kSlice = MakeSlices();

}  // namespace

const std::array<uint16_t, 256>& FcsTable() {
    return kTable;
}

uint16_t FcsUpdate(uint16_t fcs, std::span<const uint8_t> bytes) {
    const uint8_t* p = bytes.data();
    size_t n = bytes.size();
    for (; n >= kSlices; n -= kSlices, p += kSlices) {
        const unsigned x = fcs ^ (p[0] | (p[1] << 8));
        fcs = static_cast<uint16_t>(kSlice[7][x & 0xFF] ^ kSlice[6][x >> 8] ^ kSlice[5][p[2]] ^
                                    kSlice[4][p[3]] ^ kSlice[3][p[4]] ^ kSlice[2][p[5]] ^
                                    kSlice[1][p[6]] ^ kSlice[0][p[7]]);
    }
    for (; n > 0; --n, ++p) {
        fcs = static_cast<uint16_t>((fcs >> 8) ^ kTable[(fcs ^ *p) & 0xFF]);
    }
    return fcs;
}

uint16_t Fcs16(std::span<const uint8_t> bytes) {
    return static_cast<uint16_t>(FcsUpdate(kFcsInitial, bytes) ^ 0xFFFF);
}

}  // namespace veltrix
