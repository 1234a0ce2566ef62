#pragma once
// What the command line keeps of a run: the one-line JSON summary (--summary) and the run record
// (--record FILE), both made from the run's record, never from the printed log.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "diag/prepare_run.h"
#include "diag/run_record.h"

namespace veltrix {

struct RunReport {
    std::string model;
    std::string port;  // as typed
    RunSelections selections;
    RunRecord record;
    std::vector<std::string> log;  // the run log's lines
    std::string started;           // UTC, "2026-12-07T09:30:00Z"
    int64_t elapsedSeconds = 0;
    std::string refusal;  // why the run did not start, when the command line refused it
    int exitStatus = 0;
};

// The exit status `veltrix-cli run` gives a run with this record: 0 completed and passed, 1
// completed with a failure, 2 aborted, 3 not started. Kept in the run record of either front end.
int RecordExitStatus(const RunRecord& record);

// AdviceOf the record as one text, its sentences joined by "; ".
std::string JoinedAdvice(const RunRecord& record);

// "PASS", "FAIL" or "N/T" for the PMIC step.
std::string PmicResult(const RunReport& report);

// {"model":…,"port":…,"ending":…,"ap":…,"emmc":…,"sdram":…,"pmic":…,"exit":…} and a line feed;
// "sdramNoVerdict":true before "exit" when the DDR-level test gave no verdict.
std::string SummaryLine(const RunReport& report);

// The whole record as a JSON document: selections, start and elapsed time, ending, boxes, PMIC,
// the log lines, and each dump file with its size and SHA-256.
std::string RecordDocument(const RunReport& report);

// Writes `text` to `path` whole or not at all. 0, or the failure's code with its words in
// `*reason`.
int WriteWholeFile(const std::filesystem::path& path, const std::string& text, std::string* reason);

// The current time as "YYYY-MM-DDTHH:MM:SSZ".
std::string UtcNow();

// `text` as a JSON string literal that always parses: valid UTF-8 passes as it is, and each byte
// outside it becomes the Latin-1 character of that byte (\u00XX), as labels are elsewhere.
std::string JsonString(std::string_view text);

}  // namespace veltrix
