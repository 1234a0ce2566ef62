// Reads "rawprogram0.xml" into the program list with the sibling walk the list has always used:
// comments are skipped, the first "data" element is entered (what follows it is not visited),
// "program" elements are added, anything else ("zeroout", text) is passed over.

#include <tinyxml2.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "base/file_io.h"
#include "base/result_codes.h"
#include "base/text_format.h"
#include "layout/program_list.h"

namespace veltrix {
namespace {

bool ValueIs(const tinyxml2::XMLNode* node, const char* value) {
    const char* text = node->Value();
    return text != nullptr && std::strcmp(text, value) == 0;
}

AddResult AddFromElement(ProgramList& list, const tinyxml2::XMLElement& program) {
    return AddProgramEntry(list, program.Attribute("label"), program.Attribute("start_sector"),
                           program.Attribute("num_partition_sectors"),
                           program.Attribute("start_byte_hex"), program.Attribute("size_in_KB"),
                           program.Attribute("filename"));
}

// Returns the number of valid new entries that found the list full.
int WalkPrograms(ProgramList& list, const tinyxml2::XMLNode* node) {
    int notAdded = 0;
    while (node != nullptr) {
        if (node->ToComment() != nullptr) {
            node = node->NextSibling();
        } else if (ValueIs(node, "data")) {
            node = node->FirstChild();
        } else if (ValueIs(node, "program") && node->ToElement() != nullptr) {
            if (AddFromElement(list, *node->ToElement()) == AddResult::kListFull) {
                ++notAdded;
            }
            node = node->NextSibling();
        } else {
            node = node->NextSibling();
        }
    }
    return notAdded;
}

// Skips from `at` (the start of `open`) past `close`, counting the lines on the way; false
// when `close` never comes.
bool SkipPast(std::string_view text, size_t& at, std::string_view close, int& line) {
    const size_t end = text.find(close, at);
    const size_t stop = end == std::string_view::npos ? text.size() : end + close.size();
    for (; at < stop; ++at) {
        line += text[at] == '\n' ? 1 : 0;
    }
    --at;  // the caller's loop steps over the last byte
    return end != std::string_view::npos;
}

bool StartsElement(std::string_view text, size_t at) {
    if (text[at] != '<' || at + 1 >= text.size()) {
        return false;
    }
    const auto next = static_cast<unsigned char>(text[at + 1]);
    return std::isalpha(next) != 0 || next == '_' || next == ':';
}

// The line of the first element that carries more than kMaxAttributesPerElement attributes, or
// 0 when none does. Comments and CDATA sections are passed over.
int LineOfCrowdedElement(std::string_view text) {
    int line = 1;
    int tagLine = 0;
    int attributes = 0;
    bool inTag = false;
    char quote = 0;
    for (size_t at = 0; at < text.size(); ++at) {
        const char c = text[at];
        line += c == '\n' ? 1 : 0;
        if (!inTag) {
            if (text.substr(at, 4) == "<!--") {
                SkipPast(text, at, "-->", line);
            } else if (text.substr(at, 9) == "<![CDATA[") {
                SkipPast(text, at, "]]>", line);
            } else if (StartsElement(text, at)) {
                inTag = true;
                attributes = 0;
                tagLine = line;
            }
        } else if (quote != 0) {
            quote = c == quote ? 0 : quote;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '=' && ++attributes > kMaxAttributesPerElement) {
            return tagLine;
        } else if (c == '>') {
            inTag = false;
        }
    }
    return 0;
}

// Why the text cannot be a program list before it is parsed, or nothing.
std::optional<std::string> ProblemBeforeParse(std::string_view text) {
    if (text.empty()) {
        return std::string("is empty");
    }
    if (text.starts_with("\xFF\xFE") || text.starts_with("\xFE\xFF")) {
        return std::string("is UTF-16 text: save it as UTF-8");
    }
    if (const size_t nul = text.find('\0'); nul != std::string_view::npos) {
        const auto line = 1 + std::count(text.begin(), text.begin() + static_cast<long>(nul), '\n');
        return Format("holds a NUL byte on line %d", static_cast<int>(line));
    }
    if (const int line = LineOfCrowdedElement(text); line > 0) {
        return Format("cannot be parsed: the element on line %d carries more than %d attributes",
                      line, kMaxAttributesPerElement);
    }
    return std::nullopt;
}

// tinyxml2's refusal in words: where, and why.
std::string ParseProblem(const tinyxml2::XMLDocument& document) {
    switch (document.ErrorID()) {
        case tinyxml2::XML_ERROR_EMPTY_DOCUMENT:
            return "holds no XML";
        case tinyxml2::XML_ELEMENT_DEPTH_EXCEEDED:
            return Format("cannot be parsed: elements nested too deep on line %d",
                          document.ErrorLineNum());
        default:
            return Format("cannot be parsed: %s on line %d", document.ErrorName(),
                          document.ErrorLineNum());
    }
}

int Refuse(std::string* problem, std::string reason) {
    if (problem != nullptr) {
        *problem = std::move(reason);
    }
    return kProgramListUnreadable;
}

}  // namespace

int LoadProgramList(ProgramList& list, const std::filesystem::path& path, std::string* problem) {
    // A partition description is a few KiB: a larger file, a FIFO or a device is refused
    // rather than read into memory without end.
    std::string text;
    std::string reason;
    const int read = ReadSmallFile(path, kMaxProgramListBytes, text, &reason);
    if (read == kErrorFileNotFound) {
        return Refuse(problem, "");
    }
    if (read != kErrorSuccess) {
        return Refuse(problem, "cannot be read: " + reason);
    }
    if (auto early = ProblemBeforeParse(text)) {
        return Refuse(problem, *early);
    }
    tinyxml2::XMLDocument document;
    if (document.Parse(text.data(), text.size()) != tinyxml2::XML_SUCCESS) {
        return Refuse(problem, ParseProblem(document));
    }
    const int notAdded = WalkPrograms(list, document.FirstChildElement());
    if (notAdded > 0) {
        if (problem != nullptr) {
            *problem =
                Format("lists more than %d partitions (%d more)", kProgramListCapacity, notAdded);
        }
        return kProgramListTooLong;
    }
    return 1;
}

}  // namespace veltrix
