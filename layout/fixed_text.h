#pragma once
// Text helpers for the 8-bit labels and file names of the image name table, "partition.txt" and
// "rawprogram0.xml". These bytes map to UI text one for one (Latin-1); comparisons ignore ASCII
// letter case only and never depend on the process locale.

#include <cstddef>
#include <string>
#include <string_view>

namespace veltrix {

// The text of a fixed-size field: its bytes up to the first zero byte, or all of them when the
// field is full. Never reads past `size`.
std::string_view FieldText(const char* field, size_t size);

// Equal when the bytes match with ASCII 'A'-'Z' folded onto 'a'-'z' (other bytes compare exactly).
bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b);

// Latin-1 bytes to UTF-8 (bytes 0x80-0xFF become two-byte sequences).
std::string Latin1ToUtf8(std::string_view latin1);

// A name that stays a plain file name inside its folder: not empty, not "." or "..", without "/",
// "\" or control characters (0x00-0x1F, 0x7F).
bool IsSafeFileName(std::string_view name);

// The name for a log line: UTF-8, with control characters (C0, DEL and C1) shown as \xNN.
std::string PrintableName(std::string_view latin1);

// The most characters of a label a log line shows; a longer one ends in "...".
inline constexpr size_t kMaxLabelShown = 64;

// A UTF-8 label (from rawprogram0.xml or the command line) for a log line: control characters
// (C0, DEL, C1), line and paragraph separators and the bidirectional controls that could make a
// line read otherwise are shown as \xNN or \u{NNNN}, bytes that are not UTF-8 as \xNN; at most
// kMaxLabelShown characters of it.
std::string PrintableLabel(std::string_view utf8);

}  // namespace veltrix
