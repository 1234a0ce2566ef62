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
    kNoStartCode,       // a line that is not blank or short does not begin with ':'
    kBadDigit,          // a character that is not a hex digit, or an odd number of digits
    kTooShort,          // fewer digits than count, address, type and checksum need
    kCountMismatch,     // the byte count does not match the digits on the line
    kBadChecksum,       // the bytes of the record do not sum to zero
    kBadAddressRecord,  // an 02/03/04/05 record with the wrong number of data bytes
    // What a flash programmer's file must hold besides well-formed records (CheckHexProgram):
    kNoData,         // no data byte before the end-of-file record
    kNoEndOfFile,    // no end-of-file record: the file is cut short
    kAfterEndOfFile  // a record after the end-of-file record
};

struct HexParseResult {
    std::vector<HexRecord> records;  // in file order; empty when error is set
    HexError error = HexError::kNone;
    int errorLine = 0;  // 1-based line of the first fault
    int lineCount = 0;  // lines in the text
    bool ok() const { return error == HexError::kNone; }
};

// Parses one record line (line end already removed). Fills `out` only on kNone.
HexError ParseHexRecord(std::string_view line, HexRecord& out);

// Parses a whole file. Blank lines, and lines of at most 8 characters that do not begin with ':'
// (stray bytes such as a DOS end-of-file mark), are skipped; "\r\n" and "\n" both end a line.
// Every other line must be a valid record; the first fault stops the parse.
HexParseResult ParseIntelHex(std::string_view text);

// Whether well-formed records make a flash programmer: data bytes, then an end-of-file record,
// then nothing. kNone, or the fault and in `*line` the line it shows on: the first record after
// the end-of-file record; the end-of-file record of a file without data (line 1 for an empty
// file); the line after the last for a file without an end-of-file record.
HexError CheckHexProgram(const HexParseResult& parsed, int* line);

// The data length an 02/03/04/05 record must carry (2 or 4); -1 for the other types.
int HexAddressRecordLength(uint8_t type);

// A short English text for an error ("wrong checksum").
const char* HexErrorText(HexError error);

}  // namespace veltrix
