#include "cli/selections.h"

#include <algorithm>
#include <charconv>
#include <system_error>
#include <vector>

#include "cli/commands.h"
#include "diag/model_table.h"
#include "diag/partition_read.h"
#include "layout/partition_txt.h"
#include "link/ports/port_names.h"

namespace veltrix::cli {
namespace {

struct TestFlag {
    const char* name;
    bool RunSelections::*field;
};

// The tests in the dialog's order.
constexpr TestFlag kTests[] = {
    {"--emmc", &RunSelections::emmcTest},
    {"--dump", &RunSelections::dump},
    {"--sdram", &RunSelections::sdramTest},
    {"--pmic-on", &RunSelections::pmicOn},
    {"--restore", &RunSelections::restoreBootImage},
};

// "--a, --b" for the ticked flags among `names`.
std::string Ticked(const RunSelections& s, std::initializer_list<const char*> names) {
    std::string out;
    for (const TestFlag& t : kTests) {
        if (s.*t.field &&
            std::find(names.begin(), names.end(), std::string_view(t.name)) != names.end()) {
            out += out.empty() ? "" : ", ";
            out += t.name;
        }
    }
    return out;
}

// RESTORE BOOT IMG and PMIC ON clear every other test in the dialog.
std::string CheckExclusive(const RunSelections& s) {
    if (s.restoreBootImage) {
        if (const std::string others = Ticked(s, {"--emmc", "--dump", "--sdram", "--pmic-on"});
            !others.empty()) {
            return "--restore cannot be combined with " + others +
                   ": a restore runs on its own (run them one after the other)";
        }
    }
    if (s.pmicOn) {
        if (const std::string others = Ticked(s, {"--emmc", "--dump", "--sdram"});
            !others.empty()) {
            return "--pmic-on cannot be combined with " + others +
                   ": PMIC ON runs on its own (run them one after the other)";
        }
    }
    return {};
}

std::string JoinQuoted(std::initializer_list<std::string_view> texts) {
    std::string out;
    for (std::string_view t : texts) {
        out += (out.empty() ? "\"" : ", \"") + std::string(t) + "\"";
    }
    return out;
}

std::string OptionList() {
    std::string out;
    for (std::string_view t : kOptionTexts) {
        out += (out.empty() ? "\"" : ", \"") + std::string(t) + "\"";
    }
    return out;
}

std::string ModelList() {
    std::vector<std::string_view> names;
    for (const ModelRow& row : ModelTable()) {
        names.push_back(row.displayText);
    }
    std::sort(names.begin(), names.end());
    std::string out;
    for (std::string_view n : names) {
        out += "\n  " + std::string(n);
    }
    return out;
}

bool ModelKnown(std::string_view model) {
    const auto table = ModelTable();
    return std::any_of(table.begin(), table.end(),
                       [&](const ModelRow& row) { return row.displayText == model; });
}

// The target directory's partition.txt and the model's rawprogram0.xml.
std::string CheckTargetFiles(const RunSelections& s, const std::filesystem::path& workDir) {
    std::error_code ec;
    if (s.targetDir.empty()) {
        return "--target is required: the folder holding partition.txt (made by veltrix-cli "
               "extract)";
    }
    const std::filesystem::path target = PathFromUtf8(s.targetDir);
    if (!std::filesystem::is_regular_file(target / kPartitionTxtName, ec)) {
        return std::filesystem::exists(target / kPartitionTxtName, ec)
                   ? "partition.txt in " + target.string() + " is not a regular file (--target)"
                   : "no partition.txt in " + target.string() + " (--target)";
    }
    const std::filesystem::path xml =
        ModelFolder(workDir, s.model) / "boot_partition_info" / "rawprogram0.xml";
    if (!std::filesystem::is_regular_file(xml, ec)) {
        return "rawprogram0.xml not found at " + xml.string() + " (--model, --workdir)";
    }
    // Dumps go into the model folder itself, never through a link to a folder elsewhere.
    const std::filesystem::path dumps = ModelFolder(workDir, s.model) / kDumpFolderName;
    if (s.dump && std::filesystem::is_symlink(dumps, ec)) {
        return "the dump folder " + dumps.string() +
               " is a symbolic link: dumps are written only into a folder of the model folder "
               "(--dump)";
    }
    return {};
}

}  // namespace

std::string CheckTestFlags(const RunSelections& s, const GivenFlags& given) {
    if (s.dump && !s.emmcTest) {
        return "--dump is part of the eMMC test: add --emmc and --option \"Read only\" or "
               "\"Read/Write\"";
    }
    if (s.dump && s.sdramTest) {
        return "--dump cannot be combined with --sdram: the dialog clears one when the other is "
               "ticked";
    }
    if (std::string exclusive = CheckExclusive(s); !exclusive.empty()) {
        return exclusive;
    }
    if (s.emmcTest && !given.option) {
        return "--emmc needs --option, one of " + OptionList() +
               " (\"Read/Write\", \"Write only\" and \"Erase\" change the board's flash)";
    }
    if (given.option && !s.emmcTest) {
        return "--option applies to the eMMC test only: add --emmc";
    }
    if (given.partition && !s.emmcTest) {
        return "--partition applies to the eMMC test only: add --emmc";
    }
    if (given.partition && s.option == "Erase") {
        return "--option \"Erase\" cannot be combined with --partition: Erase takes the whole "
               "eMMC, whatever partition is chosen";
    }
    if (given.level && !s.sdramTest) {
        return "--level applies to the SDRAM test only: add --sdram";
    }
    if (given.restoreLabel && !s.restoreBootImage) {
        return "--restore-label applies to the boot-image restore only: add --restore";
    }
    return {};
}

std::string CheckListTexts(const RunSelections& s, std::string_view comPort) {
    if (s.model.empty()) {
        return "--model is required; the models are:" + ModelList();
    }
    if (!ModelKnown(s.model)) {
        return "--model \"" + s.model + "\" is not a model; the models are:" + ModelList();
    }
    if (comPort.empty()) {
        return "--port is required: the number n of \"COM n\", 1 to 99 (see veltrix-cli ports)";
    }
    if (PortNumberOf(comPort) == 0) {
        // A list of ports that is no list says what is wrong with it.
        std::string problem;
        if (comPort.find(',') != std::string_view::npos && !ParsePortList(comPort, &problem)) {
            return problem;
        }
        return "--port \"" + std::string(comPort) +
               "\" is not a port: give a number 1 to 99 (digits only, no sign, blank or leading "
               "zero)";
    }
    if (std::find(std::begin(kOptionTexts), std::end(kOptionTexts), s.option) ==
        std::end(kOptionTexts)) {
        return "--option \"" + s.option + "\" is not an option; the options are " + OptionList();
    }
    if (s.level != "0" && s.level != "1") {
        return "--level \"" + s.level + "\" is not a level; the levels are " +
               JoinQuoted({"0", "1"});
    }
    return {};
}

std::string CheckRunFiles(const RunSelections& s, std::string_view comPort,
                          const std::filesystem::path& workDir) {
    std::error_code ec;
    if (workDir.empty()) {
        return "the current folder is gone or cannot be read: give --workdir, the folder holding "
               "model/<model>/";
    }
    if (!s.targetDir.empty() || !s.pmicOn) {
        if (std::string missing = CheckTargetFiles(s, workDir); !missing.empty()) {
            return missing;
        }
    }
    const int port = PortNumberOf(comPort);
    const std::filesystem::path device = PortDevicePath(port);
    if (!PortDeviceExists(device)) {
        return "COM " + std::to_string(port) + " is " + device.string() +
               ", which does not exist (--port; see veltrix-cli ports)";
    }
    return {};
}

std::string CheckOutputPath(const std::filesystem::path& path) {
    std::error_code ec;
    const auto status = std::filesystem::symlink_status(path, ec);
    switch (status.type()) {
        case std::filesystem::file_type::symlink:
            return path.string() + " is a symbolic link";
        case std::filesystem::file_type::fifo:
            return path.string() + " is a FIFO";
        case std::filesystem::file_type::block:
        case std::filesystem::file_type::character:
            return path.string() + " is a device";
        case std::filesystem::file_type::directory:
            return path.string() + " is a folder";
        case std::filesystem::file_type::socket:
            return path.string() + " is a socket";
        case std::filesystem::file_type::regular:
        case std::filesystem::file_type::not_found:
        case std::filesystem::file_type::none:  // the folder above cannot be read: the write says
            return {};
        default:
            return path.string() + " is not a regular file";
    }
}

int PortNumberOf(std::string_view text) {
    // "COM n" as the operator reads it: one or two decimal digits, no sign, no blank, no leading
    // zero, nothing after. "03" or " 3" could be a typing slip as well as port 3.
    if (text.empty() || text.size() > 2 || text.front() == '0') {
        return 0;
    }
    int value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return 0;
        }
        value = value * 10 + (c - '0');
    }
    return value <= kHighestPort ? value : 0;
}

}  // namespace veltrix::cli
