#pragma once
// Where a platform call fails, its error number becomes one of the named result codes; the
// system's own words for it go into the diagnostic line.

#include <string>

namespace veltrix {

// The named code for an errno value: a missing file or device gives kErrorFileNotFound, no
// permission kErrorAccessDenied, a full disk kErrorDiskFull, and so on; kErrorIoDevice for any
// error without a name of its own (0 too: a failure is never reported as success).
int ResultFromErrno(int error);

// The system's words for an errno value ("No space left on device").
std::string SystemErrorText(int error);

}  // namespace veltrix
