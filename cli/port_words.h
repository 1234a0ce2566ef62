#pragma once
// What "COM n" means on this operating system, in the words of --help and `veltrix-cli ports`.

#include <string>

namespace veltrix::cli {

// The paragraph of --help on port numbers.
const char* PortsHelp();

// The first line of `ports`: where the list comes from.
std::string PortsHeading();

// The line of `ports` when there is no port at all.
const char* NoPortsText();

}  // namespace veltrix::cli
