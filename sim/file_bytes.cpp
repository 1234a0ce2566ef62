#include "sim/file_bytes.h"

#include <fstream>
#include <iterator>

namespace veltrix::sim {

bool ReadWholeFile(const std::filesystem::path& path, std::vector<uint8_t>* out,
                   std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "cannot read " + path.string();
        return false;
    }
    out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) {
        *error = "error reading " + path.string();
        return false;
    }
    return true;
}

}  // namespace veltrix::sim
