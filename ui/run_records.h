#pragma once
// Every run the window starts leaves its run record, the same JSON document as
// `veltrix-cli run --record`, in the records folder: one file per run named by its start time and
// port, written whole or not at all.

#include <QString>
#include <filesystem>
#include <string>

#include "diag/run_report.h"

namespace veltrix::ui {

// $XDG_DATA_HOME/veltrix/records, else ~/.local/share/veltrix/records (on Windows the user's
// application data folder).
std::filesystem::path RunRecordsFolder();

// "20261207T093000Z_COM9.json" for a run started at "2026-12-07T09:30:00Z" on port text "9".
std::string RunRecordFileName(const std::string& started, const std::string& port);

// Writes the report into the records folder (made when missing) under a name of its own (a
// second run in the same second gets "-2", ...). The file's path, or an empty path with the
// reason in `*reason`.
std::filesystem::path SaveRunRecord(const RunReport& report, std::string* reason);

}  // namespace veltrix::ui
