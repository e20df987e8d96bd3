// Wire format of the Zebex Z-2030 download protocol: control bytes, the table
// descriptors of the header, and the checksummed frames.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace pdt::wire {

inline constexpr uint8_t STX = 0x02;  // starts a block
inline constexpr uint8_t ETX = 0x03;  // ends a block
inline constexpr uint8_t ENQ = 0x05;  // the PC opens a request stage
inline constexpr uint8_t ACK = 0x06;  // acknowledgement, both ways
inline constexpr uint8_t BEL = 0x07;  // the terminal's answer to "U"
inline constexpr uint8_t ESC = 0x1B;  // the PC ends the exchange
inline constexpr uint8_t kGreetingU = 'U';
inline constexpr uint8_t kGreetingT = 'T';

// The header is read into a fixed buffer; descriptor n starts at n * 17.
inline constexpr size_t kHeaderCapacity = 1028;
inline constexpr size_t kDescriptorSize = 17;
inline constexpr int32_t kMaxTable = 59;  // the last descriptor that fits the buffer

// Offsets inside one descriptor.
inline constexpr size_t kPresenceOffset = 0;  // FFh: the table is absent
inline constexpr size_t kRecordCountOffset = 8;
inline constexpr size_t kRecordCountDigits = 5;
inline constexpr size_t kFieldCountOffset = 14;
inline constexpr size_t kFieldCountDigits = 2;
inline constexpr size_t kInterpretedBytes = 16;  // offsets 0..15 carry the meaning
inline constexpr uint8_t kAbsentTable = 0xFF;

// The byte that names table `table` in the "CU" request: "0" + table, modulo 256.
constexpr uint8_t TableDigit(int32_t table) {
    return static_cast<uint8_t>(0x30u + static_cast<uint32_t>(table));
}

// Sum of the data bytes modulo 256; the length byte is not included.
uint8_t FrameChecksum(std::string_view data);

// Appends one frame: length, data, checksum. At most 255 data bytes fit.
void AppendFrame(std::vector<uint8_t>& out, std::string_view data);

}  // namespace pdt::wire
