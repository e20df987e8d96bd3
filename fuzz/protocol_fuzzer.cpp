// Feeds arbitrary bytes and arbitrary protocol settings into the protocol
// machine. The input is read as a small program so that the fuzzer gets past
// the checksums: frames are written with the right sum by the harness.
//
// Input layout:
//   12 bytes  c_FormNum, c_CodeFldNum, c_CountFldNum (int32, little-endian)
//   then ops, each led by one tag byte t:
//     t >> 6 == 0  raw:    the next (t & 3Fh) + 1 bytes go to the machine as they are
//     t >> 6 == 1  frame:  next byte L, then L data bytes; the machine gets L,
//                          the data and their checksum (a wrong sum when t & 1)
//     t >> 6 == 2  header: next byte k; the machine gets STX, k * 8 header
//                          bytes from the input (ETX turned into '.', padded
//                          with '.'), then ETX
//     t >> 6 == 3  control: StartExchange when t & 1 is 0, else StopExchange
// Missing bytes at the end of the input shorten the op.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "core/protocol/protocol_machine.h"

namespace {

using namespace pdt;

// Checks what must hold whatever the bytes: log lines carry the current
// exchange number, replies are short, and a record side is one field.
class CheckingOutlets : public ProtocolOutlets {
  public:
    uint32_t exchange = 0;

    void SendByte(uint8_t) override {}
    void SendBlock(const uint8_t*, uint16_t count) override {
        if (count > 3) std::abort();
    }
    void Log(uint32_t lineExchange, std::string_view label, std::string_view) override {
        if (lineExchange != exchange || label.empty()) std::abort();
    }
    void AppendRecord(std::string_view barcode, std::string_view quantity) override {
        // Each side comes from at most one field frame of the record.
        if (barcode.size() > 255 || quantity.size() > 255) std::abort();
    }
    void ClearRecords() override { ++exchange; }
};

class Reader {
  public:
    Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool Empty() const { return pos_ >= size_; }
    uint8_t Byte() { return Empty() ? 0 : data_[pos_++]; }
    int32_t Int32() {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i) value |= uint32_t{Byte()} << (8 * i);
        return static_cast<int32_t>(value);
    }
    std::string_view Take(size_t count) {
        const size_t n = std::min(count, size_ - std::min(pos_, size_));
        std::string_view bytes(reinterpret_cast<const char*>(data_ + pos_), n);
        pos_ += n;
        return bytes;
    }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

void CheckState(const ProtocolMachine& machine) {
    const int32_t state = machine.State();
    if (state < -1 || state > 17 || state == 8) std::abort();
}

void FeedFrame(ProtocolMachine& machine, Reader& in, bool wrongSum) {
    const std::string_view data = in.Take(in.Byte());
    uint8_t sum = 0;
    machine.ProcessByte(static_cast<uint8_t>(data.size()));
    for (char c : data) {
        machine.ProcessByte(static_cast<uint8_t>(c));
        sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(c));
    }
    machine.ProcessByte(wrongSum ? static_cast<uint8_t>(sum + 1) : sum);
}

void FeedHeader(ProtocolMachine& machine, Reader& in) {
    const size_t length = size_t{in.Byte()} * 8;
    const std::string_view given = in.Take(length);
    machine.ProcessByte(wire::STX);
    for (size_t i = 0; i < length; ++i) {
        const uint8_t b = i < given.size() ? static_cast<uint8_t>(given[i]) : '.';
        machine.ProcessByte(b == wire::ETX ? '.' : b);
    }
    machine.ProcessByte(wire::ETX);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in(data, size);
    DriverSettings settings;
    settings.c_FormNum = in.Int32();
    settings.c_CodeFldNum = in.Int32();
    settings.c_CountFldNum = in.Int32();
    CheckingOutlets outlets;
    ProtocolMachine machine(settings, outlets);

    while (!in.Empty()) {
        const uint8_t tag = in.Byte();
        switch (tag >> 6) {
            case 0:
                for (char c : in.Take((tag & 0x3F) + 1u))
                    machine.ProcessByte(static_cast<uint8_t>(c));
                break;
            case 1:
                FeedFrame(machine, in, tag & 1);
                break;
            case 2:
                FeedHeader(machine, in);
                break;
            default:
                if (tag & 1) {
                    machine.StopExchange();
                } else {
                    machine.StartExchange();
                }
                break;
        }
        CheckState(machine);
    }
    return 0;
}
