// Outlets that remember every call, in order, for the protocol tests.
#pragma once

#include <cstdint>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/protocol/protocol_outlets.h"
#include "core/records/result_list.h"

namespace pdt {

inline void PrintTo(const TRecord& r, std::ostream* os) {
    *os << '{' << ::testing::PrintToString(r.barcode) << ", "
        << ::testing::PrintToString(r.quantity) << '}';
}

}  // namespace pdt

namespace pdt::testing {

struct LogLine {
    uint32_t exchange;
    std::string label;
    std::string payload;
    bool operator==(const LogLine&) const = default;
    friend void PrintTo(const LogLine& l, std::ostream* os) {
        *os << '{' << l.exchange << ", " << ::testing::PrintToString(l.label + l.payload) << '}';
    }
};

class RecordingOutlets : public ProtocolOutlets {
  public:
    // One entry per SendByte / SendBlock call, so the split into PutChar and
    // PutBlock stays visible.
    std::vector<std::vector<uint8_t>> sends;
    std::vector<LogLine> log;
    std::vector<TRecord> records;
    int clears = 0;
    bool failSends = false;

    void SendByte(uint8_t value) override {
        if (failSends) throw std::runtime_error("send failed");
        sends.push_back({value});
    }
    void SendBlock(const uint8_t* data, uint16_t count) override {
        if (failSends) throw std::runtime_error("send failed");
        sends.emplace_back(data, data + count);
    }
    void Log(uint32_t exchange, std::string_view label, std::string_view payload) override {
        log.push_back({exchange, std::string(label), std::string(payload)});
    }
    void AppendRecord(std::string_view barcode, std::string_view quantity) override {
        records.push_back({std::string(barcode), std::string(quantity)});
    }
    void ClearRecords() override {
        ++clears;
        records.clear();
    }

    // Every byte sent, in order, and forget them.
    std::vector<uint8_t> TakeSent() {
        std::vector<uint8_t> bytes;
        for (const auto& s : sends) bytes.insert(bytes.end(), s.begin(), s.end());
        sends.clear();
        return bytes;
    }
};

}  // namespace pdt::testing
