#pragma once
// veltrix-cli's tests on the bench scene: the DLOAD model's folder (programmer, rawprogram0.xml
// listing sbl2), partition.txt with sbl2 at sector 8 in the target directory, a run command of
// its AP check with a summary, and the run view's outputs in files; a strict JSON reader for
// what it writes. Portable: the simulated board and the program are cli_board_fixture.h's.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/commands.h"
#include "tests/support/bench_scene.h"
#include "tests/support/fake_clock.h"

namespace veltrix::cli {

namespace fs = std::filesystem;
using testing::kBoardPort;
using testing::kDloadModel;
using testing::Lines;

inline bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

inline std::string ReadText(const fs::path& path) {
    const testing::Bytes bytes = testing::ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

// Whether `text` is UTF-8: no stray or missing continuation byte, no overlong form, no
// surrogate, nothing beyond U+10FFFF.
inline bool ValidUtf8(std::string_view text) {
    for (size_t at = 0; at < text.size();) {
        const auto lead = static_cast<unsigned char>(text[at++]);
        const int more = lead < 0x80    ? 0
                         : lead >= 0xF0 ? 3
                         : lead >= 0xE0 ? 2
                         : lead >= 0xC0 ? 1
                                        : -1;
        if (more < 0 || at + more > text.size()) {
            return false;
        }
        uint32_t code = lead & (0x7F >> more);
        for (int i = 0; i < more; ++i, ++at) {
            if ((text[at] & 0xC0) != 0x80) {
                return false;
            }
            code = code << 6 | (text[at] & 0x3F);
        }
        const uint32_t lowest[] = {0, 0x80, 0x800, 0x10000};
        if (code < lowest[more] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            return false;
        }
    }
    return true;
}

// JSON as RFC 8259 has it and nothing more: one value; strings of UTF-8 without raw control
// characters and with only the standard escapes; numbers without leading zeros or bare points.
// It reads up to the string's terminating zero, which nothing valid contains.
class StrictJson {
public:
    static bool Valid(const std::string& text) {
        StrictJson json(text.c_str());
        return json.Value() && json.Space() == text.c_str() + text.size() && ValidUtf8(text);
    }

private:
    explicit StrictJson(const char* p) : p_(p) {}
    const char* Space() {
        while (*p_ != '\0' && std::strchr(" \t\r\n", *p_)) {
            ++p_;
        }
        return p_;
    }
    bool Is(char c) { return *p_ == c && ++p_; }
    bool Eat(char c) { return *Space() == c && ++p_; }
    bool Digits(int least = 1) {
        const char* from = p_;
        while (std::isdigit(static_cast<unsigned char>(*p_)) ||
               (least == 4 && std::isxdigit(static_cast<unsigned char>(*p_)))) {
            ++p_;
        }
        return p_ - from >= least;
    }
    bool Number() {
        Is('-');
        return (Is('0') || (*p_ != '0' && Digits())) && (!Is('.') || Digits()) &&
               (!(Is('e') || Is('E')) || ((Is('+') || Is('-')), Digits()));
    }
    bool String() {  // after the opening quote
        while (*p_ != '"') {
            const auto c = static_cast<unsigned char>(*p_++);
            const bool ok = c != '\\' ||
                            (Is('u') ? Digits(4) : *p_ != '\0' && std::strchr("\"\\/bfnrt", *p_++));
            if (c < 0x20 || !ok) {
                return false;
            }
        }
        return Is('"');
    }
    bool List(char close, bool object) {
        if (Eat(close)) {
            return true;
        }
        do {
            if ((object && !(Eat('"') && String() && Eat(':'))) || !Value()) {
                return false;
            }
        } while (Eat(','));
        return Eat(close);
    }
    bool Value() {
        const char c = *Space();
        for (const std::string_view word : {"true", "false", "null"}) {
            if (std::string_view(p_).starts_with(word)) {
                return (p_ += word.size()) != nullptr;
            }
        }
        return Is('{') || Is('[') ? List(c == '{' ? '}' : ']', c == '{')
               : Is('"')          ? String()
                                  : Number();
    }

    const char* p_;
};

inline bool IsStrictJson(const std::string& text) {
    return StrictJson::Valid(text);
}

class CliCommandTest : public ::testing::Test {
protected:
    CliCommandTest() {
        scene.WriteModel(kDloadModel, {"sbl2"});
        scene.WritePartitions({{"sbl2", 8, 2}});
        command.workDir = scene.workDir();
        command.comPort = std::to_string(kBoardPort);
        RunSelections& s = command.selections;
        s.model = kDloadModel;
        s.apCheck = true;
        s.targetDir = scene.targetDir().string();
        s.option = "Read/Write";
        s.level = std::string("1");  // not "1": GCC 12 warns wrongly of an overlapping copy
        command.summary = true;
        Fresh();
    }
    ~CliCommandTest() override { CloseFiles(); }
    // Empty files for standard output, standard error and the summary, and a view on them.
    void Fresh() {
        CloseFiles();
        out = std::fopen((scene.root() / "stdout").string().c_str(), "w+b");
        err = std::fopen((scene.root() / "stderr").string().c_str(), "w+b");
        summary = std::fopen((scene.root() / "summary").string().c_str(), "w+b");
        view = std::make_unique<TerminalView>(out, err, false);
    }
    int Run(Clock& runClock) {
        command.summaryOut = summary;
        return RunTests(command, *view, runClock, console);
    }
    int Run() { return Run(clock); }
    // Everything written to `f` so far.
    static std::string Text(std::FILE* f) {
        std::fflush(f);
        std::rewind(f);
        std::string text;
        char buf[4096];
        for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) {
            text.append(buf, n);
        }
        return text;
    }
    std::string Out() const { return Text(out); }
    std::string Err() const { return Text(err); }
    std::string Summary() const { return Text(summary); }

    testing::BenchScene scene;
    RunCommand command;
    testing::FakeClock clock;
    std::ostringstream console;
    std::FILE* out = nullptr;
    std::FILE* err = nullptr;
    std::FILE* summary = nullptr;
    std::unique_ptr<TerminalView> view;

private:
    void CloseFiles() {
        for (std::FILE* f : {out, err, summary}) {
            if (f != nullptr) {
                std::fclose(f);
            }
        }
    }
};

}  // namespace veltrix::cli
