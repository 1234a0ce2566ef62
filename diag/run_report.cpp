#include "diag/run_report.h"

#include <chrono>
#include <cstdio>

#include "base/file_io.h"
#include "base/sha256.h"

namespace veltrix {
namespace {

const char* Bool(bool value) {
    return value ? "true" : "false";
}

// A JSON object built field by field; `indent` > 0 puts each field on a line of its own.
class JsonObject {
public:
    explicit JsonObject(int indent = 0) : indent_(indent) {}
    JsonObject& Add(std::string_view name, std::string_view jsonValue) {
        text_ += text_.empty() ? "{" : ",";
        if (indent_ > 0) {
            text_ += '\n';
            text_.append(static_cast<size_t>(indent_), ' ');
        }
        text_ += JsonString(name);
        text_ += ':';
        text_ += jsonValue;
        return *this;
    }
    JsonObject& Text(std::string_view name, std::string_view text) {
        return Add(name, JsonString(text));
    }
    std::string Close() {
        if (text_.empty()) {
            return "{}";
        }
        if (indent_ > 0) {
            text_ += '\n';
        }
        text_ += '}';
        return text_;
    }

private:
    int indent_;
    std::string text_;
};

// A JSON array of the given values, one per line at two levels of indent.
std::string Array(const std::vector<std::string>& jsonValues) {
    if (jsonValues.empty()) {
        return "[]";
    }
    std::string out = "[";
    for (size_t i = 0; i < jsonValues.size(); ++i) {
        out += i == 0 ? "\n    " : ",\n    ";
        out += jsonValues[i];
    }
    out += "\n  ]";
    return out;
}

// A JSON array of texts on one line: ["sbl1","sbl2"].
std::string TextArray(const std::vector<std::string>& texts) {
    std::string out = "[";
    for (const std::string& text : texts) {
        if (out.size() > 1) {
            out += ',';
        }
        out += JsonString(text);
    }
    return out + "]";
}

}  // namespace

std::string SelectionsJson(const RunSelections& s) {
    return JsonObject()
        .Add("apCheck", Bool(s.apCheck))
        .Add("emmc", Bool(s.emmcTest))
        .Add("dump", Bool(s.dump))
        .Text("partition", s.partitionLabel)
        .Text("option", s.option)
        .Add("sdram", Bool(s.sdramTest))
        .Text("level", s.level)
        .Add("pmicOn", Bool(s.pmicOn))
        .Add("restore", Bool(s.restoreBootImage))
        .Text("restoreLabel", s.restoreLabel)
        .Text("target", s.targetDir)
        .Close();
}

namespace {

std::string Results(const RunReport& r) {
    return JsonObject()
        .Text("ap", r.record.Box(ResultBox::kAp))
        .Text("emmc", r.record.Box(ResultBox::kEmmc))
        .Text("sdram", r.record.Box(ResultBox::kSdram))
        .Text("pmic", PmicResult(r))
        .Close();
}

std::string LogLines(const std::vector<std::string>& lines) {
    std::vector<std::string> values;
    for (const std::string& line : lines) {
        values.push_back(JsonString(line));
    }
    return Array(values);
}

std::string Dumps(const std::vector<std::filesystem::path>& files) {
    std::vector<std::string> values;
    for (const std::filesystem::path& file : files) {
        JsonObject dump;
        dump.Text("path", file.string());
        if (const auto digest = DigestFile(file)) {
            dump.Add("size", std::to_string(digest->size)).Text("sha256", digest->sha256);
        } else {
            dump.Text("error", "cannot be read");
        }
        values.push_back(dump.Close());
    }
    return Array(values);
}

// The length of the valid UTF-8 sequence that starts `text` (a byte of 0x80 or more), or 0 when
// there is none: a stray continuation byte, an overlong form, a surrogate, a code point beyond
// U+10FFFF, or a sequence cut short.
size_t Utf8SequenceLength(std::string_view text) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    size_t length = 0;
    unsigned char low = 0x80;  // the range of the second byte
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : low;
        high = lead == 0xED ? 0x9F : high;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : low;
        high = lead == 0xF4 ? 0x8F : high;
    }
    if (length == 0 || text.size() < length || byte(1) < low || byte(1) > high) {
        return 0;
    }
    for (size_t i = 2; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xBF) {
            return 0;
        }
    }
    return length;
}

}  // namespace

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (size_t at = 0; at < text.size();) {
        const auto c = static_cast<unsigned char>(text[at]);
        const size_t sequence = c < 0x80 ? 0 : Utf8SequenceLength(text.substr(at));
        if (sequence > 0) {
            out.append(text.substr(at, sequence));
            at += sequence;
            continue;
        }
        ++at;
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c >= 0x80) {
            // A byte outside valid UTF-8 is taken as the Latin-1 character it would be.
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string JoinedAdvice(const RunRecord& record) {
    std::string text;
    for (const std::string& line : AdviceOf(record)) {
        text += (text.empty() ? "" : "; ") + line;
    }
    return text;
}

std::string PmicResult(const RunReport& report) {
    if (report.record.pmicFailed) {
        return kResultFail;
    }
    const bool ran = report.selections.pmicOn && report.record.ending == RunEnding::kCompleted;
    return ran ? kResultPass : kResultNotTested;
}

int ExitStatusOf(const RunRecord& record) {
    switch (record.ending) {
        case RunEnding::kCompleted:
            return record.Passed() ? kExitPassed : kExitTestFailed;
        case RunEnding::kAborted:
            return kExitAborted;
        default:
            return kExitNotStarted;
    }
}

std::string SummaryLine(const RunReport& r) {
    JsonObject line;
    line.Text("model", r.model)
        .Text("port", r.port)
        .Text("ending", RunEndingText(r.record.ending))
        .Text("ap", r.record.Box(ResultBox::kAp))
        .Text("emmc", r.record.Box(ResultBox::kEmmc))
        .Text("sdram", r.record.Box(ResultBox::kSdram))
        .Text("pmic", PmicResult(r));
    if (r.record.sdramNoVerdict) {
        line.Add("sdramNoVerdict", "true");
    }
    if (r.record.bootImagesNotRestored) {
        line.Add("bootImagesNotRestored", "true");
    }
    return line.Text("verdict", VerdictOf(r.record).text)
               .Add("exit", std::to_string(r.exitStatus))
               .Close() +
           "\n";
}

std::string RecordDocument(const RunReport& r) {
    return JsonObject(2)
               .Text("model", r.model)
               .Text("port", r.port)
               .Add("selections", SelectionsJson(r.selections))
               .Text("started", r.started)
               .Add("elapsedSeconds", std::to_string(r.elapsedSeconds))
               .Text("ending", RunEndingText(r.record.ending))
               .Add("cancelled", Bool(r.record.cancelled))
               .Add("sdramNoVerdict", Bool(r.record.sdramNoVerdict))
               .Add("bootImagesNotRestored", Bool(r.record.bootImagesNotRestored))
               .Add("partitionsToRestore", TextArray(r.record.partitionsToRestore))
               .Add("patternLeftIn", TextArray(r.record.patternLeftIn))
               .Add("programmerRunning", Bool(r.record.programmerRunning))
               .Text("refusal", r.refusal)
               .Text("verdict", VerdictOf(r.record).text)
               .Text("abortReason", r.record.abortReason)
               .Text("advice", JoinedAdvice(r.record))
               .Add("messages", TextArray(r.record.messages))
               .Add("results", Results(r))
               .Add("exit", std::to_string(r.exitStatus))
               .Add("log", LogLines(r.log))
               .Add("dumps", Dumps(r.record.dumpFiles))
               .Close() +
           "\n";
}

int WriteWholeFile(const std::filesystem::path& path, const std::string& text,
                   std::string* reason) {
    OutputFile out;
    int code = out.Create(path);
    if (code == 0) {
        code = out.Write(text.data(), text.size());
    }
    if (code == 0) {
        code = out.Commit(/*sync=*/true);
    }
    if (code != 0 && reason != nullptr) {
        *reason = out.errorText();
    }
    return code;
}

// From the calendar of <chrono>: the same on every system, with no gmtime_r (POSIX) or
// gmtime_s (Windows) to choose from.
std::string UtcText(int64_t unixSeconds) {
    using namespace std::chrono;
    const sys_seconds now{seconds{unixSeconds}};
    const sys_days day = floor<days>(now);
    const year_month_day date{day};
    const hh_mm_ss time{now - day};
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), static_cast<int>(time.hours().count()),
                  static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    return text;
}

std::string EnglishPart(std::string_view message) {
    const size_t english = message.rfind("\n\n");
    message.remove_prefix(english == std::string_view::npos ? 0 : english + 2);
    const size_t end = message.find_last_not_of(' ');
    return std::string(message.substr(0, end == std::string_view::npos ? 0 : end + 1));
}

}  // namespace veltrix
