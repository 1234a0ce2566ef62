#include "link/ports/port_names.h"

#include <cstdlib>

namespace veltrix {
namespace fs = std::filesystem;

fs::path PortsFolder() {
    if (const char* dir = std::getenv("VELTRIX_PORTS"); dir && *dir) {
        return fs::path(dir);
    }
    if (const char* run = std::getenv("XDG_RUNTIME_DIR"); run && *run) {
        return fs::path(run) / "veltrix" / "ports";
    }
    const char* home = std::getenv("HOME");
    return fs::path(home && *home ? home : "/tmp") / ".local" / "state" / "veltrix" / "ports";
}

}  // namespace veltrix
