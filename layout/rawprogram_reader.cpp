// Reads "rawprogram0.xml" into the program list with the sibling walk the list has always used:
// comments are skipped, the first "data" element is entered (what follows it is not visited),
// "program" elements are added, anything else ("zeroout", text) is passed over.

#include <tinyxml2.h>

#include <cstring>
#include <ostream>
#include <string>

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

}  // namespace

int LoadProgramList(ProgramList& list, const std::filesystem::path& path) {
    // A partition description is a few KiB: a larger file, a FIFO or a device is refused
    // rather than read into memory without end.
    std::string text;
    std::string reason;
    const int read = ReadSmallFile(path, kMaxProgramListBytes, text, &reason);
    if (read != kErrorSuccess) {
        if (list.console != nullptr && read != kErrorFileNotFound) {
            *list.console << Format("%s cannot be read: %s", path.string().c_str(), reason.c_str())
                          << std::endl;
        }
        return -1;
    }
    tinyxml2::XMLDocument document;
    if (document.Parse(text.data(), text.size()) != tinyxml2::XML_SUCCESS) {
        return -1;
    }
    const int notAdded = WalkPrograms(list, document.FirstChildElement());
    if (notAdded > 0) {
        if (list.console != nullptr) {
            *list.console << Format("Program list full: %d program entries not added", notAdded)
                          << std::endl;
        }
    }
    return 1;
}

}  // namespace veltrix
