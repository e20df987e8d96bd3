// What the terminal protocol machine needs of the world around it.
//
// The machine answers the terminal, reports progress and hands over records
// only through these outlets, so it runs the same behind a serial port, in a
// test, or in a fuzzer. Every call is made while the machine holds its own lock
// (see ProtocolMachine), so calls arrive in the order the bytes arrived.
#pragma once

#include <cstdint>
#include <string_view>

namespace pdt {

class ProtocolOutlets {
  public:
    virtual ~ProtocolOutlets() = default;

    // Queue one reply byte / one reply block for the terminal (never waits).
    virtual void SendByte(uint8_t value) = 0;
    virtual void SendBlock(const uint8_t* data, uint16_t count) = 0;

    // One progress line: a fixed label (UTF-8, e.g. "Записей: ") followed by a
    // payload of raw terminal bytes or decimal digits, shown as they came.
    // `exchange` numbers the exchange that wrote the line, so a view that was
    // cleared for a restarted exchange can drop lines of the older one.
    virtual void Log(uint32_t exchange, std::string_view label, std::string_view payload) = 0;

    // A completed record: barcode and quantity texts, bytes as received.
    virtual void AppendRecord(std::string_view barcode, std::string_view quantity) = 0;

    // A new exchange starts: drop the records of the previous one.
    virtual void ClearRecords() = 0;
};

}  // namespace pdt
