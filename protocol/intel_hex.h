#pragma once
// Intel-HEX records read from a text held in memory. Every record is checked completely (start
// code, hex digits, byte count against the line, checksum) before any of them is used, so a
// damaged file is refused as a whole. Hex digits may be upper or lower case.

#include <cstdint>
#include <string_view>
#include <vector>

namespace veltrix {

enum class HexRecordType : uint8_t {
    kData = 0x00,
    kEndOfFile = 0x01,
    kExtendedSegmentAddress = 0x02,  // data: segment base, to be shifted left by 4
    kStartSegmentAddress = 0x03,     // data: CS then IP
    kExtendedLinearAddress = 0x04,   // data: upper 16 bits of the address
    kStartLinearAddress = 0x05,      // data: the 32-bit start address
};

struct HexRecord {
    int line = 0;  // 1-based line number in the text
    uint8_t type = 0;
    uint16_t address = 0;
    std::vector<uint8_t> data;
};

enum class HexError {
    kNone,
    kNoStartCode,      // a line that is not blank or short does not begin with ':'
    kBadDigit,         // a character that is not a hex digit, or an odd number of digits
    kTooShort,         // fewer digits than count, address, type and checksum need
    kCountMismatch,    // the byte count does not match the digits on the line
    kBadChecksum,      // the bytes of the record do not sum to zero
    kBadAddressRecord  // an 02/03/04/05 record with the wrong number of data bytes
};

struct HexParseResult {
    std::vector<HexRecord> records;  // in file order; empty when error is set
    HexError error = HexError::kNone;
    int errorLine = 0;  // 1-based line of the first fault
    bool ok() const { return error == HexError::kNone; }
};

// Parses one record line (line end already removed). Fills `out` only on kNone.
HexError ParseHexRecord(std::string_view line, HexRecord& out);

// Parses a whole file. Blank lines, and lines of at most 8 characters that do not begin with ':'
// (stray bytes such as a DOS end-of-file mark), are skipped; "\r\n" and "\n" both end a line.
// Every other line must be a valid record; the first fault stops the parse.
HexParseResult ParseIntelHex(std::string_view text);

// A short English text for an error ("wrong checksum").
const char* HexErrorText(HexError error);

}  // namespace veltrix
