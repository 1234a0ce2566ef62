#pragma once
// Every result code of the system, named once. Device and file operations return 0 or a Win32
// system error code; boards, stored run logs and callers rely on these values, so they never
// change. Platform errors (errno) are mapped onto them where they happen; the operating
// system's own words go into the diagnostic line, never into the code.

namespace veltrix {

inline constexpr int kErrorSuccess = 0;
// A file or a COM port that does not exist.
inline constexpr int kErrorFileNotFound = 2;
// The process (or the system) has no file descriptors left: a matter of the PC, not of a file
// or a board.
inline constexpr int kErrorTooManyOpenFiles = 4;
// No permission to open the file or the port.
inline constexpr int kErrorAccessDenied = 5;
// The port is closed, or the expected answer did not come.
inline constexpr int kErrorInvalidHandle = 6;
// A reply larger than the caller's buffer; no thread for a run.
inline constexpr int kErrorNotEnoughMemory = 8;
// The flash programmer file is damaged (bad checksum, malformed record) or too large; nothing
// was sent to the board.
inline constexpr int kErrorInvalidData = 13;
// During a DDR wait the AP check asks for one retry pass.
inline constexpr int kErrorNotReady = 21;
// A write was refused by the board, or a write of the SDRAM test failed.
inline constexpr int kErrorWriteFault = 29;
// The SDRAM verdict cannot be read; a file the board is sent cannot be read.
inline constexpr int kErrorReadFault = 30;
// A test failed.
inline constexpr int kErrorGenFailure = 31;
// Another process holds the port.
inline constexpr int kErrorPortBusy = 32;  // ERROR_SHARING_VIOLATION
// Another program holds the lock of a folder (a second extraction into it): nothing was written.
inline constexpr int kErrorLockViolation = 33;
// End of a streamed file; turned into 0 by the caller.
inline constexpr int kErrorHandleEof = 38;
// A file that must be new already exists.
inline constexpr int kErrorFileExists = 80;
// A negative length or a request too large for the frame buffer: nothing was written.
inline constexpr int kErrorInvalidParameter = 87;
// A programmer or image file cannot be opened.
inline constexpr int kErrorOpenFailed = 110;
// The disk (or the user's quota) is full.
inline constexpr int kErrorDiskFull = 112;
// A port write that could not finish within the time-out.
inline constexpr int kErrorSemTimeout = 121;
// START while a run is still in progress: nothing was changed.
inline constexpr int kErrorBusy = 170;
// A path names something other than a regular file where only a regular file may be read or
// replaced: a symbolic link, a FIFO, a device. Nothing was read or written.
inline constexpr int kErrorNotRegularFile = 222;  // ERROR_BAD_FILE_TYPE
// A file larger than the place it is meant for (a partition, a loader's memory): nothing sent.
// Also a write past the file-size limit of the process.
inline constexpr int kErrorFileTooLarge = 223;  // ERROR_FILE_TOO_LARGE
// A path too long for the system.
inline constexpr int kErrorFilenameTooLong = 206;
// A folder where a file was expected, or a file where a folder was expected.
inline constexpr int kErrorDirectory = 267;
// The front end cancelled the run.
inline constexpr int kErrorOperationAborted = 995;
// Any other failure of a device or file call (the diagnostic line says which).
inline constexpr int kErrorIoDevice = 1117;
// The port went away under an open handle (the board dropped off the bus).
inline constexpr int kErrorDeviceNotConnected = 1167;

// Results of run preparation (PrepareRun): 1, or what START tells the operator.
inline constexpr int kPrepareReady = 1;
inline constexpr int kPrepareNoComPort = -1;
inline constexpr int kPrepareNoModel = -2;
inline constexpr int kPrepareNoTest = -3;
inline constexpr int kPrepareNoProgramList = -4;
inline constexpr int kPrepareNoTargetDir = -5;
// A run is still active, or its worker has not yet finished its last lines: nothing was touched.
inline constexpr int kPrepareRunInProgress = -6;
// START found no partition index in the target directory (the index reader has shown why).
inline constexpr int kPrepareNoPartitionIndex = -7;
// The model's "rawprogram0.xml" is there but cannot be used: unreadable, not parsable, longer
// than the list holds, or listing no partition for a run that works on the list.
inline constexpr int kPrepareProgramListUnusable = -8;

}  // namespace veltrix
