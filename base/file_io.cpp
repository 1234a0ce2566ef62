// What both builds of the file-I/O place share: the destructors, how a failed call becomes a
// named code with the system's words beside it, and the checks that keep an input bounded and an
// output from replacing anything but a regular file.

#include "base/file_io.h"

#include <string>
#include <system_error>

#include "base/result_codes.h"
#include "base/system_error.h"
#include "base/text_format.h"

namespace veltrix {
namespace {

PathKind KindOfStatus(const std::filesystem::file_status& status) {
    namespace fs = std::filesystem;
    switch (status.type()) {
        case fs::file_type::not_found:
        case fs::file_type::none:
            return PathKind::kNone;
        case fs::file_type::regular:
            return PathKind::kRegular;
        case fs::file_type::directory:
            return PathKind::kFolder;
        case fs::file_type::symlink:
            return PathKind::kLink;
        case fs::file_type::fifo:
            return PathKind::kFifo;
        case fs::file_type::block:
        case fs::file_type::character:
            return PathKind::kDevice;
        case fs::file_type::socket:
            return PathKind::kSocket;
        default:
            return PathKind::kOther;
    }
}

}  // namespace

PathKind KindOfPath(const std::filesystem::path& path) {
    std::error_code ec;
    return KindOfStatus(std::filesystem::symlink_status(path, ec));
}

const char* PathKindText(PathKind kind) {
    switch (kind) {
        case PathKind::kNone:
            return "nothing";
        case PathKind::kRegular:
            return "a regular file";
        case PathKind::kFolder:
            return "a folder";
        case PathKind::kLink:
            return "a symbolic link";
        case PathKind::kFifo:
            return "a FIFO";
        case PathKind::kDevice:
            return "a device";
        case PathKind::kSocket:
            return "a socket";
        default:
            return "not a regular file";
    }
}

InputFile::~InputFile() {
    Close();
}

int InputFile::Fail(int systemError) {
    error_ = ResultFromErrno(systemError);
    errorText_ = SystemErrorText(systemError);
    return error_;
}

int InputFile::OpenBounded(const std::filesystem::path& path, uint64_t maxBytes) {
    if (const int code = Open(path); code != kErrorSuccess) {
        return code;
    }
    if (kind_ != PathKind::kRegular) {
        errorText_ = Format("%s, not a regular file", PathKindText(kind_));
        error_ = kErrorNotRegularFile;
    } else if (size_ > maxBytes) {
        errorText_ = Format("%llu bytes, more than the %llu bytes allowed",
                            static_cast<unsigned long long>(size_),
                            static_cast<unsigned long long>(maxBytes));
        error_ = kErrorFileTooLarge;
    } else {
        return kErrorSuccess;
    }
    Close();
    return error_;
}

int ReadSmallFile(const std::filesystem::path& path, uint64_t maxBytes, std::string& out,
                  std::string* reason) {
    InputFile input;
    int code = input.OpenBounded(path, maxBytes);
    if (code == kErrorSuccess) {
        out.resize(static_cast<size_t>(input.size()));
        const long long got = input.ReadFull(out.data(), out.size());
        if (got < 0) {
            code = input.error();
            out.clear();
        } else {
            out.resize(static_cast<size_t>(got));  // a file that shrank meanwhile
        }
    }
    if (code != kErrorSuccess && reason != nullptr) {
        *reason = input.errorText();
    }
    return code;
}

OutputFile::~OutputFile() {
    Discard();
}

int OutputFile::Fail(int systemError) {
    errorText_ = SystemErrorText(systemError);
    return ResultFromErrno(systemError);
}

int OutputFile::CheckReplaceable() {
    const PathKind kind = KindOfPath(path_);
    if (kind == PathKind::kNone || kind == PathKind::kRegular) {
        return kErrorSuccess;
    }
    errorText_ = Format("%s is there, not a regular file", PathKindText(kind));
    return kind == PathKind::kFolder ? kErrorDirectory : kErrorNotRegularFile;
}

}  // namespace veltrix
