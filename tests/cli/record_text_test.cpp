// What the run record and the summary are made of: JSON strings, whatever bytes they hold, and
// SHA-256 digests against the standard's own examples, fed in pieces that cross the 64-byte
// blocks every way.
#include "base/sha256.h"
#include "cli/exit_status.h"
#include "cli/selections.h"
#include "diag/run_report.h"
#include "tests/cli/cli_fixture.h"

namespace veltrix::cli {
namespace {

// A port is read strictly: what the operator typed is the port, or it is refused.
TEST(PortNumberTest, OnlyPlainNumbersOneToNinetyNineArePorts) {
    const std::pair<std::string_view, int>
        cases[] =
            {
                {"1", 1},    {"9", 9},        {"14", 14}, {"99", 99}, {"0", 0},   {"00", 0},
                {"03", 0},   {"100", 0},      {"3x", 0},  {"x3", 0},  {" 3", 0},  {"3 ", 0},
                {"+3", 0},   {"-3", 0},       {"3\n", 0}, {"", 0},    {"0x3", 0}, {"3.0", 0},
                {"COM3", 0}, {"\xD9\xA3", 0},  // an Arabic-Indic three
            };
    for (const auto& [text, port] : cases) {
        EXPECT_EQ(PortNumberOf(text), port) << text;
    }
}

TEST(Sha256, StandardExamplesInAnyPieces) {
    const std::pair<std::string, const char*> cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& [text, digest] : cases) {
        for (size_t piece : {size_t{1}, size_t{63}, size_t{64}, size_t{65}, size_t{4096}}) {
            Sha256 sha;
            for (size_t at = 0; at < text.size(); at += piece) {
                const auto* bytes = reinterpret_cast<const uint8_t*>(text.data()) + at;
                sha.Update(bytes, std::min(piece, text.size() - at));
            }
            EXPECT_EQ(sha.HexDigest(), digest) << text.size() << " in " << piece;
        }
    }
    // A dump's file digest reads the file to its end, in buffers of a MiB.
    testing::TempFolder dir;
    testing::WriteText(dir / "dump.bin", std::string(3 * 1024 * 1024 + 5, 'a'));
    const std::optional<FileDigest> file = DigestFile(dir / "dump.bin");
    ASSERT_TRUE(file.has_value());
    EXPECT_EQ(file->size, 3u * 1024 * 1024 + 5);
    EXPECT_EQ(file->sha256, "aff2c7498aae939dfb2fb1dc6c0c83fa3708b069428e51338801af7f5dc2bf0f");
}

// Text that JSON must escape reaches the summary and the record as JSON writes it: a backslash,
// a quote, a control byte, a tab and non-ASCII text, here in a port text that is refused.
TEST_F(CliCommandTest, SummaryAndRecordEscapeWhatJsonMustEscape) {
    command.comPort = "C:\\ \"COM\"\x01\t \xc3\xa9\xe2\x82\xac";
    command.record = scene.root() / "refused.json";
    EXPECT_EQ(Run(), kExitUsage);
    const std::string port = R"j("C:\\ \"COM\"\u0001\t é€")j";
    EXPECT_EQ(Summary(), R"j({"model":"Tamsin (APQ8064)","port":)j" + port +
                             R"j(,"ending":"refused","ap":"N/T","emmc":"N/T","sdram":"N/T",)j"
                             R"j("pmic":"N/T","verdict":"NOT STARTED","exit":64})j"
                             "\n");
    const std::string record = ReadText(command.record);
    EXPECT_TRUE(Has(record, "\n  \"port\":" + port + ",\n")) << record;
    EXPECT_TRUE(Has(record, R"j(  "refusal":"--port \"C:\\ \"COM\"\u0001\t é€\" is not a port: )j"
                            R"j(give a number 1 to 99 (digits only, no sign, blank or leading )j"
                            R"j(zero)",)j"))
        << record;
    EXPECT_TRUE(IsStrictJson(record));
    EXPECT_TRUE(IsStrictJson(Summary()));
}

// Bytes outside UTF-8 become the Latin-1 characters they would be, so the JSON always parses.
TEST(JsonStringTest, KeepsUtf8AndEscapesEveryOtherByte) {
    const std::pair<std::string, std::string> cases[] = {
        {"t\xff", "\"t\\u00ff\""},
        {"\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "\"\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80\""},
        {"\xc3", "\"\\u00c3\""},                                   // cut short
        {"\xc0\xaf", "\"\\u00c0\\u00af\""},                        // overlong
        {"\xed\xa0\x80", "\"\\u00ed\\u00a0\\u0080\""},             // a surrogate
        {"\xf4\x90\x80\x80", "\"\\u00f4\\u0090\\u0080\\u0080\""},  // beyond U+10FFFF
        {"\x80\"\\\n\x01", "\"\\u0080\\\"\\\\\\n\\u0001\""},
    };
    for (const auto& [text, json] : cases) {
        EXPECT_EQ(JsonString(text), json);
        // The strict reader takes the text as it is exactly when JSON needs no escape in it.
        EXPECT_TRUE(IsStrictJson(json)) << json;
        EXPECT_EQ(IsStrictJson("\"" + text + "\""), json == "\"" + text + "\"") << json;
    }
}

}  // namespace
}  // namespace veltrix::cli
