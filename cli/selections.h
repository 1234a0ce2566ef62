#pragma once
// The checks the command line makes before a run, so that a script gets what the dialog would
// allow and a message naming the flag at fault, never a silent other run: the dialog's check-box
// interlocks, the lists of the model, port, option and level texts, and the files a run needs.

#include <filesystem>
#include <string>
#include <string_view>

#include "diag/prepare_run.h"

namespace veltrix::cli {

// Which of the flags the operator gave explicitly (CLI11 knows; defaults do not count).
struct GivenFlags {
    bool option = false;
    bool level = false;
    bool partition = false;
    bool restoreLabel = false;
};

// The combination of tests and their options as the dialog could have made it: "" when fine,
// else what is wrong, naming the flags ("--restore cannot be combined with --emmc: ...").
std::string CheckTestFlags(const RunSelections& selections, const GivenFlags& given);

// The model, port, option and level texts against their lists: "" or a message that names the
// flag and shows the valid values.
std::string CheckListTexts(const RunSelections& selections, std::string_view comPort);

// The files the run will need, before anything is sent to a board: the work directory, the
// target directory's partition.txt and the model's rawprogram0.xml (neither for PMIC ON without a
// target directory, which loads no partition list), and the device behind "COM n". "" or a
// message naming the flag and the path.
std::string CheckRunFiles(const RunSelections& selections, std::string_view comPort,
                          const std::filesystem::path& workDir);

// Why the tool may not write `path` (a flag's output file): "" when it names a regular file or
// nothing, else "<path> is a symbolic link" (a FIFO, a device, a folder, a socket). Renaming the
// output into place would replace that with a plain file.
std::string CheckOutputPath(const std::filesystem::path& path);

// The highest n of "COM n" a run accepts.
inline constexpr int kHighestPort = 99;

// The port text as a number 1..99, or 0: one or two decimal digits without a leading zero and
// nothing else ("3x", " 3", "+3", "03" are no port).
int PortNumberOf(std::string_view text);

// The eMMC option texts, in the order the dialog lists them.
inline constexpr std::string_view kOptionTexts[] = {"Read only", "Read/Write", "Write only",
                                                    "Erase"};

}  // namespace veltrix::cli
