#include "layout/fixed_text.h"

#include <cstring>

#include "base/text_format.h"

namespace veltrix {
namespace {

char FoldAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsControl(unsigned char c) {
    return c < 0x20 || c == 0x7F;
}

void AppendLatin1(std::string& out, unsigned char c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace

std::string_view FieldText(const char* field, size_t size) {
    const void* zero = std::memchr(field, 0, size);
    const size_t length = zero ? static_cast<size_t>(static_cast<const char*>(zero) - field) : size;
    return {field, length};
}

bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i])) {
            return false;
        }
    }
    return true;
}

std::string Latin1ToUtf8(std::string_view latin1) {
    std::string out;
    out.reserve(latin1.size());
    for (char c : latin1) {
        AppendLatin1(out, static_cast<unsigned char>(c));
    }
    return out;
}

bool IsSafeFileName(std::string_view name) {
    if (name.empty() || name == "." || name == "..") {
        return false;
    }
    for (char c : name) {
        if (c == '/' || c == '\\' || IsControl(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return true;
}

std::string PrintableName(std::string_view latin1) {
    std::string out;
    for (char c : latin1) {
        const auto byte = static_cast<unsigned char>(c);
        if (IsControl(byte)) {
            out += Format("\\x%02X", byte);
        } else {
            AppendLatin1(out, byte);
        }
    }
    return out;
}

}  // namespace veltrix
