#include "layout/fixed_text.h"

#include <cstdint>
#include <cstring>
#include <utility>

#include "base/text_format.h"

namespace veltrix {
namespace {

char FoldAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsControl(unsigned char c) {
    return c < 0x20 || c == 0x7F;
}

// U+0080 to U+009F: an 8-bit terminal takes 0x9B for an escape sequence's start.
bool IsC1Control(uint32_t c) {
    return c >= 0x80 && c <= 0x9F;
}

// Characters that break a line or reorder what follows it on the screen.
bool IsLayoutControl(uint32_t c) {
    return c == 0x2028 || c == 0x2029 || (c >= 0x200E && c <= 0x200F) ||
           (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

// The UTF-8 sequence at the front of `text`: its code point and length, or length 0 when the
// bytes are no valid sequence (stray or missing continuation bytes, overlong forms, surrogates,
// values past U+10FFFF).
std::pair<uint32_t, size_t> DecodeUtf8(std::string_view text) {
    const auto lead = static_cast<unsigned char>(text[0]);
    const size_t length = lead < 0x80    ? 1
                          : lead >= 0xF0 ? 4
                          : lead >= 0xE0 ? 3
                          : lead >= 0xC0 ? 2
                                         : 0;
    if (length == 0 || length > text.size() || lead > 0xF4) {
        return {0, 0};
    }
    uint32_t code = length == 1 ? lead : lead & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[i]);
        if ((next & 0xC0) != 0x80) {
            return {0, 0};
        }
        code = code << 6 | (next & 0x3F);
    }
    static constexpr uint32_t kLowest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kLowest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        return {0, 0};
    }
    return {code, length};
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
        if (IsControl(byte) || IsC1Control(byte)) {
            out += Format("\\x%02X", byte);
        } else {
            AppendLatin1(out, byte);
        }
    }
    return out;
}

std::string PrintableLabel(std::string_view utf8) {
    std::string out;
    size_t shown = 0;
    while (!utf8.empty()) {
        if (shown == kMaxLabelShown) {
            out += "...";
            break;
        }
        const auto [code, length] = DecodeUtf8(utf8);
        if (length == 0) {
            out += Format("\\x%02X", static_cast<unsigned char>(utf8[0]));
            utf8.remove_prefix(1);
        } else {
            if (code < 0x80 && IsControl(static_cast<unsigned char>(code))) {
                out += Format("\\x%02X", code);
            } else if (IsC1Control(code) || IsLayoutControl(code)) {
                out += Format("\\u{%04X}", code);
            } else {
                out.append(utf8.substr(0, length));
            }
            utf8.remove_prefix(length);
        }
        ++shown;
    }
    return out;
}

}  // namespace veltrix
