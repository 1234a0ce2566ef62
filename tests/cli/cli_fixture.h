#pragma once
// veltrix-cli's tests on the bench scene: the DLOAD model's folder (programmer, rawprogram0.xml
// listing sbl2), partition.txt with sbl2 at sector 8 in the target directory, the simulated board
// at kBoardPort when a test starts it, a run command of its AP check with a summary, and the run
// view's outputs in files; veltrix-cli as a program; a strict JSON reader for what it writes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

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
#include "tests/support/scene_board.h"

namespace veltrix::cli {

namespace fs = std::filesystem;
using testing::kBoardPort;
using testing::kDloadModel;
using testing::Lines;

inline std::string ReadText(const fs::path& path) {
    const testing::Bytes bytes = testing::ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

// Runs veltrix-cli with `args`, standard output to `out` (empty: a pipe whose reader has gone)
// and standard error to `err`, in a current folder `gone` removed before it starts when given,
// as the user nobody when `asNobody` and root runs the tests. The exit status.
inline int Program(std::vector<std::string> args, const std::string& out, const std::string& err,
                   const std::string& gone, bool asNobody = false) {
    args.insert(args.begin(), VELTRIX_CLI_PROGRAM);
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    int fds[2];
    if (pipe(fds) != 0) {
        return -1;
    }
    close(fds[0]);
    const pid_t pid = fork();
    if (pid == 0) {
        const int o = out.empty() ? fds[1] : open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (dup2(o, STDOUT_FILENO) < 0 || dup2(e, STDERR_FILENO) < 0 ||
            (!gone.empty() && (chdir(gone.c_str()) != 0 || rmdir(gone.c_str()) != 0)) ||
            (asNobody && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))) {
            _exit(126);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(fds[1]);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
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

class CliTest : public ::testing::Test {
protected:
    CliTest() {
        scene.WriteModel(kDloadModel, {"sbl2"});
        scene.WritePartitions({{"sbl2", 8, 2}});
        command.workDir = scene.workDir();
        command.comPort = std::to_string(kBoardPort);
        RunSelections& s = command.selections;
        s.model = kDloadModel;
        s.apCheck = true;
        s.targetDir = scene.targetDir().string();
        s.option = "Read/Write";
        s.level = "1";
        command.summary = true;
        Fresh();
    }
    ~CliTest() override {
        board.reset();
        CloseFiles();
    }
    // Empty files for standard output, standard error and the summary, and a view on them.
    void Fresh() {
        CloseFiles();
        out = std::tmpfile();
        err = std::tmpfile();
        summary = std::tmpfile();
        view = std::make_unique<TerminalView>(out, err, false);
    }
    void StartBoard() {
        board.reset();
        board = testing::StartBoard(options);
        ASSERT_TRUE(board);
    }
    // veltrix-cli run's arguments for the AP check with a record and a summary, with `flags`
    // (separated by ";") in place of those of the same names, or added; "--x=" drops --x.
    Lines RunArgs(const std::string& flags, const fs::path& record) const {
        std::istringstream in("run;--model=" + std::string(kDloadModel) + ";--port=14;--ap-check;" +
                              "--target=" + scene.targetDir().string() +
                              ";--workdir=" + scene.workDir().string() +
                              ";--record=" + record.string() + ";--summary;" + flags);
        Lines args;
        for (std::string flag; std::getline(in, flag, ';');) {
            const auto name = [](const std::string& f) { return f.substr(0, f.find('=')); };
            const auto same = std::find_if(args.begin(), args.end(), [&](const std::string& a) {
                return name(a) == name(flag);
            });
            if (same != args.end()) {
                args.erase(same);
            }
            if (flag.back() != '=') {
                args.push_back(flag);
            }
        }
        return args;
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
    sim::BoardOptions options = testing::BoardFor(scene, kDloadModel);
    std::unique_ptr<sim::SimulatedBoard> board;
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
