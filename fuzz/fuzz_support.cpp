#include "fuzz/fuzz_support.h"

#include <stdlib.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <system_error>

namespace veltrix::fuzz {

int ScriptedPort::Read(uint8_t* buffer, size_t capacity, size_t* got) {
    ++reads;
    *got = 0;
    if (chunks.empty()) {
        return 0;
    }
    Bytes& chunk = chunks.front();
    const size_t n = std::min(capacity, chunk.size());
    if (n > 0) {
        std::memcpy(buffer, chunk.data(), n);
    }
    chunk.erase(chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(n));
    if (chunk.empty()) {
        chunks.pop_front();
    }
    *got = n;
    return 0;
}

int ScriptedPort::Write(const uint8_t* bytes, size_t length) {
    written.insert(written.end(), bytes, bytes + length);
    return 0;
}

namespace {

std::filesystem::path* scratch = nullptr;

void RemoveScratch() {
    std::error_code ec;
    std::filesystem::remove_all(*scratch, ec);
}

}  // namespace

const std::filesystem::path& ScratchFolder() {
    if (scratch == nullptr) {
        std::error_code ec;
        const std::filesystem::path base =
            std::filesystem::is_directory("/dev/shm", ec) ? "/dev/shm" : "/tmp";
        std::string pattern = (base / "veltrix-fuzz-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        scratch = new std::filesystem::path(pattern);
        std::atexit(RemoveScratch);
    }
    return *scratch;
}

std::vector<std::string> ListNames(const std::filesystem::path& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

Bytes ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const std::filesystem::path& path, std::span<const uint8_t> bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

}  // namespace veltrix::fuzz
