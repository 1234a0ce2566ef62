#include "protocol/intel_hex.h"

#include <algorithm>

namespace veltrix {
namespace {

constexpr char kStartCode = ':';
// Byte count, two address bytes, type, checksum.
constexpr size_t kRecordOverheadBytes = 5;
// Lines this short were always skipped: no record fits in them.
constexpr size_t kShortLineLength = 8;

int DigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && IsBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

// Decodes the hex digits after the start code into bytes. False on a bad or odd digit count.
bool DecodeDigits(std::string_view digits, std::vector<uint8_t>& bytes) {
    if (digits.size() % 2 != 0) {
        return false;
    }
    bytes.resize(digits.size() / 2);
    for (size_t i = 0; i < bytes.size(); ++i) {
        const int hi = DigitValue(digits[2 * i]);
        const int lo = DigitValue(digits[2 * i + 1]);
        if (hi < 0 || lo < 0) {
            return false;
        }
        bytes[i] = static_cast<uint8_t>(hi * 16 + lo);
    }
    return true;
}

}  // namespace

HexError ParseHexRecord(std::string_view line, HexRecord& out) {
    if (line.empty() || line.front() != kStartCode) {
        return HexError::kNoStartCode;
    }
    std::vector<uint8_t> bytes;
    if (!DecodeDigits(line.substr(1), bytes)) {
        return HexError::kBadDigit;
    }
    if (bytes.size() < kRecordOverheadBytes) {
        return HexError::kTooShort;
    }
    const size_t count = bytes[0];
    if (bytes.size() != count + kRecordOverheadBytes) {
        return HexError::kCountMismatch;
    }
    uint8_t sum = 0;
    for (uint8_t b : bytes) {
        sum = static_cast<uint8_t>(sum + b);
    }
    if (sum != 0) {
        return HexError::kBadChecksum;
    }
    const uint8_t type = bytes[3];
    const int required = HexAddressRecordLength(type);
    if (required >= 0 && static_cast<size_t>(required) != count) {
        return HexError::kBadAddressRecord;
    }
    out.type = type;
    out.address = static_cast<uint16_t>((bytes[1] << 8) | bytes[2]);
    out.data.assign(bytes.begin() + 4, bytes.begin() + 4 + static_cast<std::ptrdiff_t>(count));
    return HexError::kNone;
}

HexParseResult ParseIntelHex(std::string_view text) {
    HexParseResult result;
    int lineNumber = 0;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = Trim(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++lineNumber;
        if (line.empty() || (line.size() <= kShortLineLength && line.front() != kStartCode)) {
            continue;
        }
        HexRecord record;
        record.line = lineNumber;
        const HexError error = ParseHexRecord(line, record);
        if (error != HexError::kNone) {
            result.records.clear();
            result.error = error;
            result.errorLine = lineNumber;
            return result;
        }
        result.records.push_back(std::move(record));
    }
    result.lineCount = lineNumber;
    return result;
}

HexError CheckHexProgram(const HexParseResult& parsed, int* line) {
    const auto fault = [line](HexError error, int at) {
        *line = at;
        return error;
    };
    size_t dataBytes = 0;
    const HexRecord* end = nullptr;
    for (const HexRecord& record : parsed.records) {
        if (end != nullptr) {
            return fault(HexError::kAfterEndOfFile, record.line);
        }
        if (record.type == static_cast<uint8_t>(HexRecordType::kEndOfFile)) {
            end = &record;
        } else if (record.type == static_cast<uint8_t>(HexRecordType::kData)) {
            dataBytes += record.data.size();
        }
    }
    if (dataBytes == 0) {
        return fault(HexError::kNoData, end != nullptr ? end->line : std::max(1, parsed.lineCount));
    }
    if (end == nullptr) {
        return fault(HexError::kNoEndOfFile, parsed.lineCount + 1);
    }
    *line = 0;
    return HexError::kNone;
}

int HexAddressRecordLength(uint8_t type) {
    switch (static_cast<HexRecordType>(type)) {
        case HexRecordType::kExtendedSegmentAddress:
        case HexRecordType::kExtendedLinearAddress:
            return 2;
        case HexRecordType::kStartSegmentAddress:
        case HexRecordType::kStartLinearAddress:
            return 4;
        default:
            return -1;
    }
}

const char* HexErrorText(HexError error) {
    switch (error) {
        case HexError::kNone:
            return "no error";
        case HexError::kNoStartCode:
            return "not an Intel-HEX record";
        case HexError::kBadDigit:
            return "bad hex digit";
        case HexError::kTooShort:
            return "record too short";
        case HexError::kCountMismatch:
            return "byte count does not match the record";
        case HexError::kBadChecksum:
            return "wrong checksum";
        case HexError::kBadAddressRecord:
            return "address record of the wrong length";
        case HexError::kNoData:
            return "no data record before the end-of-file record";
        case HexError::kNoEndOfFile:
            return "no end-of-file record (the file is cut short)";
        case HexError::kAfterEndOfFile:
            return "a record after the end-of-file record";
    }
    return "unknown error";
}

}  // namespace veltrix
