// What both builds of the file-I/O place share: the destructors, and how a failed call becomes a
// named code with the system's words beside it.

#include "base/file_io.h"

#include "base/result_codes.h"
#include "base/system_error.h"

namespace veltrix {

InputFile::~InputFile() {
    Close();
}

int InputFile::Fail(int systemError) {
    error_ = ResultFromErrno(systemError);
    errorText_ = SystemErrorText(systemError);
    return error_;
}

OutputFile::~OutputFile() {
    Discard();
}

int OutputFile::Fail(int systemError) {
    errorText_ = SystemErrorText(systemError);
    return ResultFromErrno(systemError);
}

}  // namespace veltrix
