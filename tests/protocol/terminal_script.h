// The terminal's side of a well-behaved exchange as one byte stream, built
// from the wire helpers: what a Z-2030 sends when the PC answers every step
// correctly. Shared by the protocol tests, the fuzzer's seeds and the
// benchmark, which all feed it to the machine in memory.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/protocol/protocol_wire.h"

namespace pdt::testing {

using Descriptor = std::array<uint8_t, wire::kDescriptorSize>;

// A present table: 'A' as presence mark, counts as ASCII digits, the bytes the
// PC does not interpret filled with '.' (never ETX).
inline Descriptor PresentDescriptor(int records, int fields) {
    Descriptor d;
    d.fill('.');
    d[wire::kPresenceOffset] = 'A';
    const std::string recordDigits = std::to_string(100000 + records).substr(1);
    const std::string fieldDigits = std::to_string(100 + fields).substr(1);
    std::copy(recordDigits.begin(), recordDigits.end(), d.begin() + wire::kRecordCountOffset);
    std::copy(fieldDigits.begin(), fieldDigits.end(), d.begin() + wire::kFieldCountOffset);
    return d;
}

inline Descriptor AbsentDescriptor() {
    Descriptor d;
    d.fill('.');
    d[wire::kPresenceOffset] = wire::kAbsentTable;
    return d;
}

struct TerminalScript {
    int table = 0;       // the table that is present and served
    int tableCount = 9;  // descriptors in the header (tables 0..tableCount-1)
    std::string fileName = "DATA.TXT";
    std::vector<std::vector<std::string>> records;

    int FieldsPerRecord() const {
        size_t widest = 0;
        for (const auto& r : records) widest = std::max(widest, r.size());
        return static_cast<int>(widest);
    }

    // Header data between STX and ETX (both excluded).
    std::vector<uint8_t> HeaderData() const {
        std::vector<uint8_t> data;
        for (int t = 0; t < tableCount; ++t) {
            const Descriptor d =
                t == table ? PresentDescriptor(static_cast<int>(records.size()), FieldsPerRecord())
                           : AbsentDescriptor();
            data.insert(data.end(), d.begin(), d.end());
        }
        return data;
    }

    // Up to the header's ETX; the machine then waits for the table request's ACK.
    std::vector<uint8_t> HandshakeAndHeader() const {
        std::vector<uint8_t> bytes = {wire::ACK, wire::BEL, wire::ACK,
                                      wire::ACK, wire::ACK, wire::STX};
        const auto header = HeaderData();
        bytes.insert(bytes.end(), header.begin(), header.end());
        bytes.push_back(wire::ETX);
        return bytes;
    }

    // The whole stream: handshake, header, the table request's ACKs, the
    // file-name frame and one frame per field, short records padded with
    // empty fields.
    std::vector<uint8_t> Bytes() const {
        std::vector<uint8_t> bytes = HandshakeAndHeader();
        bytes.push_back(wire::ACK);
        bytes.push_back(wire::ACK);
        wire::AppendFrame(bytes, fileName);
        const size_t fields = static_cast<size_t>(FieldsPerRecord());
        for (const auto& record : records) {
            for (size_t f = 0; f < fields; ++f)
                wire::AppendFrame(bytes, f < record.size() ? record[f] : std::string());
        }
        return bytes;
    }
};

}  // namespace pdt::testing
