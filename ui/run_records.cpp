#include "ui/run_records.h"

#include <QDir>
#include <QStandardPaths>
#include <algorithm>
#include <system_error>

#include "base/file_io.h"
#include "diag/model_table.h"

namespace veltrix::ui {

std::filesystem::path RunRecordsFolder() {
    // GenericDataLocation is $XDG_DATA_HOME (or ~/.local/share) on Linux, %LOCALAPPDATA% on
    // Windows.
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return PathFromUtf8(QDir(data).filePath(QStringLiteral("veltrix/records")).toStdString());
}

std::string RunRecordFileName(const std::string& started, const std::string& port) {
    std::string stamp;
    std::copy_if(started.begin(), started.end(), std::back_inserter(stamp),
                 [](char c) { return c != '-' && c != ':'; });
    std::string number;
    std::copy_if(port.begin(), port.end(), std::back_inserter(number),
                 [](char c) { return c >= '0' && c <= '9'; });
    return stamp + "_COM" + (number.empty() ? std::string("none") : number) + ".json";
}

std::filesystem::path SaveRunRecord(const RunReport& report, std::string* reason) {
    const std::filesystem::path folder = RunRecordsFolder();
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    const std::string name = RunRecordFileName(report.started, report.port);
    std::filesystem::path path = folder / name;
    for (int n = 2; KindOfPath(path) != PathKind::kNone; ++n) {
        path = folder / (name.substr(0, name.size() - 5) + "-" + std::to_string(n) + ".json");
    }
    if (WriteWholeFile(path, RecordDocument(report), reason) != 0) {
        return {};
    }
    return path;
}

}  // namespace veltrix::ui
