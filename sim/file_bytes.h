#pragma once
// Whole-file reading for the board's inputs (partition.txt, images to compare uploads with).

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace veltrix::sim {

// Reads the file into `out`. False with `error` set when it cannot be read.
bool ReadWholeFile(const std::filesystem::path& path, std::vector<uint8_t>* out,
                   std::string* error);

}  // namespace veltrix::sim
