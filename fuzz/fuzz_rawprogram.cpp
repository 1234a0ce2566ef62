// Loading "rawprogram0.xml". The input is the file. Checks against a reference built from the
// same document: the list holds, in file order, the first 1024 "program" elements of the walk
// (before and inside the first "data" element) that have a new label (ASCII case ignored) and
// the three required attributes, with their texts unchanged, and the load says "too long"
// exactly when more such elements follow; a second load into the same list adds nothing; At()
// refuses every index outside the list. A document the parser takes is refused only for what
// the loader screens before parsing (a byte order mark of UTF-16, a NUL byte, an element with
// too many attributes), and a refused load leaves the list empty.

#include <tinyxml2.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "layout/program_list.h"

namespace veltrix::fuzz {
namespace {

std::string Folded(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

std::optional<std::string> Attribute(const tinyxml2::XMLElement& e, const char* name) {
    const char* text = e.Attribute(name);
    return text ? std::optional<std::string>(text) : std::nullopt;
}

// The "program" elements in the order the list visits them.
std::vector<const tinyxml2::XMLElement*> Programs(const tinyxml2::XMLDocument& document) {
    std::vector<const tinyxml2::XMLElement*> programs;
    const tinyxml2::XMLNode* node = document.FirstChildElement();
    while (node != nullptr) {
        const bool named = node->Value() != nullptr && node->ToComment() == nullptr;
        if (named && std::strcmp(node->Value(), "data") == 0) {
            node = node->FirstChild();
            continue;
        }
        if (named && std::strcmp(node->Value(), "program") == 0 && node->ToElement()) {
            programs.push_back(node->ToElement());
        }
        node = node->NextSibling();
    }
    return programs;
}

struct Reference {
    std::vector<ProgramEntry> entries;
    bool tooLong = false;  // a valid new entry past the list's capacity
};

Reference Expected(const tinyxml2::XMLDocument& document) {
    Reference reference;
    std::vector<ProgramEntry>& entries = reference.entries;
    std::vector<std::string> labels;
    for (const tinyxml2::XMLElement* e : Programs(document)) {
        const auto label = Attribute(*e, "label");
        const auto start = Attribute(*e, "start_sector");
        const auto count = Attribute(*e, "num_partition_sectors");
        const auto file = Attribute(*e, "filename");
        if (!label || !start || !count || !file) {
            continue;
        }
        bool listed = false;
        for (const std::string& l : labels) {
            listed = listed || l == Folded(*label);
        }
        if (listed) {
            continue;
        }
        if (entries.size() >= kProgramListCapacity) {
            reference.tooLong = true;
            continue;
        }
        labels.push_back(Folded(*label));
        entries.push_back({*label, *start, *count, Attribute(*e, "start_byte_hex"),
                           Attribute(*e, "size_in_KB"), *file});
    }
    return reference;
}

int MostAttributes(const tinyxml2::XMLElement* e) {
    int most = 0;
    for (; e != nullptr; e = e->NextSiblingElement()) {
        int count = 0;
        for (const tinyxml2::XMLAttribute* a = e->FirstAttribute(); a != nullptr; a = a->Next()) {
            ++count;
        }
        most = std::max({most, count, MostAttributes(e->FirstChildElement())});
    }
    return most;
}

// What the loader refuses before it parses, seen from the bytes and the parsed document.
bool ScreenedOut(const uint8_t* data, size_t size, const tinyxml2::XMLDocument& document) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    return text.starts_with("\xFF\xFE") || text.starts_with("\xFE\xFF") ||
           text.find('\0') != std::string_view::npos ||
           MostAttributes(document.FirstChildElement()) > kMaxAttributesPerElement;
}

bool Matches(const ProgramList& list, const std::vector<ProgramEntry>& expected) {
    if (list.count != static_cast<int>(expected.size())) {
        return false;
    }
    for (int i = 0; i < list.count; ++i) {
        const ProgramEntry* e = list.At(i);
        const ProgramEntry& x = expected[static_cast<size_t>(i)];
        if (e == nullptr || e->label != x.label || e->start_sector != x.start_sector ||
            e->num_partition_sectors != x.num_partition_sectors ||
            e->start_byte_hex != x.start_byte_hex || e->size_in_KB != x.size_in_KB ||
            e->filename != x.filename) {
            return false;
        }
    }
    return true;
}

}  // namespace
}  // namespace veltrix::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace veltrix;
    using namespace veltrix::fuzz;
    const std::filesystem::path file = ScratchFolder() / "rawprogram0.xml";
    WriteBytes(file, Bytes(data, data + size));
    ProgramList list;
    std::ostringstream console;
    list.console = &console;
    const int loaded = LoadProgramList(list, file);
    tinyxml2::XMLDocument document;
    const bool parsed = document.LoadFile(file.c_str()) == tinyxml2::XML_SUCCESS;
    if (loaded == kProgramListUnreadable) {
        FUZZ_CHECK(list.count == 0);
        FUZZ_CHECK(!parsed || ScreenedOut(data, size, document));
        return 0;
    }
    FUZZ_CHECK(parsed);
    const Reference expected = Expected(document);
    const int whole = expected.tooLong ? kProgramListTooLong : 1;
    FUZZ_CHECK(loaded == whole);
    FUZZ_CHECK(Matches(list, expected.entries));
    FUZZ_CHECK(list.At(-1) == nullptr && list.At(list.count) == nullptr);
    FUZZ_CHECK(LoadProgramList(list, file) == whole);
    FUZZ_CHECK(Matches(list, expected.entries));
    ClearProgramList(list);
    FUZZ_CHECK(list.count == 0 && list.At(0) == nullptr);
    return 0;
}
