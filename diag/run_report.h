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

// The exit statuses of a run, for scripts and production lines (veltrix-cli's own, for its
// command line and outputs, are in cli/exit_status.h).
inline constexpr int kExitPassed = 0;  // the run completed and no result box says FAIL
// Completed, but a box says FAIL, the PMIC step failed or the SDRAM test gave no verdict.
inline constexpr int kExitTestFailed = 1;
// The run ended with "TEST aborted!!", or a signal (Ctrl-C, SIGTERM, SIGHUP, SIGPIPE) cancelled
// the run or the extraction.
inline constexpr int kExitAborted = 2;
inline constexpr int kExitNotStarted = 3;  // preparation refused the selections, or no index

// The one mapping of a run to its exit status: passed, failed test, aborted, or not started.
// Kept in the run record of either front end.
int ExitStatusOf(const RunRecord& record);

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

// Seconds since 1970 (UTC) as "YYYY-MM-DDTHH:MM:SSZ".
std::string UtcText(int64_t unixSeconds);

// The English sentence of a message box ("Korean.  \n\nEnglish.  "), without its trailing
// blanks; the whole text when it has no such parts.
std::string EnglishPart(std::string_view message);

// The selections as one JSON object, as a run record holds them.
std::string SelectionsJson(const RunSelections& selections);

// `text` as a JSON string literal that always parses: valid UTF-8 passes as it is, and each byte
// outside it becomes the Latin-1 character of that byte (\u00XX), as labels are elsewhere.
std::string JsonString(std::string_view text);

}  // namespace veltrix
