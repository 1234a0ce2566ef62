#include "link/fcs.h"

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

}  // namespace

const std::array<uint16_t, 256>& FcsTable() { return kTable; }

uint16_t FcsUpdate(uint16_t fcs, std::span<const uint8_t> bytes) {
    for (uint8_t b : bytes) {
        fcs = static_cast<uint16_t>((fcs >> 8) ^ kTable[(fcs ^ b) & 0xFF]);
    }
    return fcs;
}

uint16_t Fcs16(std::span<const uint8_t> bytes) {
    return static_cast<uint16_t>(FcsUpdate(kFcsInitial, bytes) ^ 0xFFFF);
}

}  // namespace veltrix
