#include "base/system_error.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "base/result_codes.h"

namespace veltrix {

int ResultFromErrno(int error) {
    switch (error) {
        case ENOENT:
        case ENXIO:
        case ENODEV:
            return kErrorFileNotFound;
        case EACCES:
        case EPERM:
        case EROFS:
            return kErrorAccessDenied;
        case EBUSY:
            return kErrorPortBusy;
        case ENOSPC:
#ifdef EDQUOT
        case EDQUOT:
#endif
            return kErrorDiskFull;
        case EEXIST:
            return kErrorFileExists;
        case ENAMETOOLONG:
            return kErrorFilenameTooLong;
        case EISDIR:
        case ENOTDIR:
            return kErrorDirectory;
        case EINVAL:
            return kErrorInvalidParameter;
        case ENOMEM:
            return kErrorNotEnoughMemory;
        case EMFILE:
        case ENFILE:
            return kErrorTooManyOpenFiles;
        case EFBIG:
            return kErrorFileTooLarge;
        default:
            return kErrorIoDevice;
    }
}

std::string SystemErrorText(int error) {
    return std::strerror(error);
}

}  // namespace veltrix
