#include "base/temporary_name.h"

#include <random>
#include <string>

namespace veltrix {
namespace {

constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr size_t kRandomCharacters = 6;

bool IsContinuationByte(char8_t c) {
    return (c & 0xC0) == 0x80;
}

}  // namespace

std::filesystem::path TemporaryPathBeside(const std::filesystem::path& path) {
    thread_local std::mt19937_64 random{std::random_device{}()};
    std::u8string suffix = u8".XXXXXX.tmp";
    for (size_t i = 1; i <= kRandomCharacters; ++i) {
        suffix[i] = static_cast<char8_t>(kDigits[random() % (sizeof kDigits - 1)]);
    }
    std::u8string name = path.filename().u8string();
    if (name.size() + suffix.size() > kMaxFileNameBytes) {
        size_t keep = kMaxFileNameBytes - suffix.size();
        while (keep > 0 && IsContinuationByte(name[keep])) {
            --keep;
        }
        name.resize(keep);
    }
    return path.parent_path() / std::filesystem::path(name + suffix);
}

}  // namespace veltrix
