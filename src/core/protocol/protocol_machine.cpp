#include "core/protocol/protocol_machine.h"

#include <charconv>
#include <limits>

namespace pdt {

namespace {

// The log labels the reception dialog shows.
constexpr std::string_view kFileLabel = "Файл: ";
constexpr std::string_view kRecordsLabel = "Записей: ";
constexpr std::string_view kFieldsLabel = "Полей в записи: ";
constexpr std::string_view kRecordLabel = "Запись: ";

// A digit's value is its byte minus "0"; the terminal's bytes are not checked
// for being digits.
int32_t DecimalDigits(const uint8_t* digits, size_t count) {
    int32_t value = 0;
    for (size_t i = 0; i < count; ++i) value = value * 10 + (int32_t{digits[i]} - '0');
    return value;
}

}  // namespace

ProtocolMachine::ProtocolMachine(const DriverSettings& settings, ProtocolOutlets& outlets)
    : settings_(settings), outlets_(outlets) {}

void ProtocolMachine::ProcessByte(uint8_t value) {
    std::lock_guard lock(mutex_);
    switch (state_) {
        case kAwaitGreetingAck:
        case kAwaitBel:
        case kAwaitAckForEnq:
        case kAwaitAckForRx:
        case kAwaitRxAck:
        case kAwaitTableAck:
        case kAwaitCuAck:
            return ExpectHandshake(value);
        case kAwaitHeaderStx:
            if (value == wire::STX) return StartHeader();
            state_ = kStopped;
            return;
        case kHeader:
            return TakeHeaderByte(value);
        case kNameLength:
            return TakeNameLength(value);
        case kNameData:
            return TakeNameByte(value);
        case kNameChecksum:
            return TakeNameChecksum(value);
        case kFieldLength:
            return TakeFieldLength(value);
        case kFieldData:
            return TakeFieldByte(value);
        case kFieldChecksum:
            return TakeFieldChecksum(value);
        case kDone:
            outlets_.SendByte(wire::ESC);
            return;
        default:  // stopped, or the header being handled: nothing to answer
            return;
    }
}

// States 0 to 4, 9 and 10: one expected byte, one reply, the next state. Any
// other byte ends the exchange silently.
void ProtocolMachine::ExpectHandshake(uint8_t value) {
    const uint8_t expected = state_ == kAwaitBel ? wire::BEL : wire::ACK;
    if (value != expected) {
        state_ = kStopped;
        return;
    }
    switch (state_) {
        case kAwaitGreetingAck:
            outlets_.SendByte(wire::kGreetingU);
            state_ = kAwaitBel;
            break;
        case kAwaitBel:
            outlets_.SendByte(wire::kGreetingT);
            state_ = kAwaitAckForEnq;
            break;
        case kAwaitAckForEnq:
            outlets_.SendByte(wire::ENQ);
            state_ = kAwaitAckForRx;
            break;
        case kAwaitAckForRx: {
            static constexpr uint8_t kRequest[] = {'R', 'X'};
            outlets_.SendByte(wire::STX);
            outlets_.SendBlock(kRequest, sizeof kRequest);
            outlets_.SendByte(wire::ETX);
            state_ = kAwaitRxAck;
            break;
        }
        case kAwaitRxAck:
            state_ = kAwaitHeaderStx;
            break;
        case kAwaitTableAck: {
            const uint8_t request[] = {'C', 'U', wire::TableDigit(settings_.c_FormNum)};
            outlets_.SendByte(wire::STX);
            outlets_.SendBlock(request, sizeof request);
            outlets_.SendByte(wire::ETX);
            state_ = kAwaitCuAck;
            break;
        }
        case kAwaitCuAck:
            outlets_.SendByte(wire::ENQ);
            state_ = kNameLength;
            break;
    }
}

void ProtocolMachine::StartHeader() {
    byteCounter_ = 0;
    fileName_.clear();
    state_ = kHeader;
    checksum_ = 0;
}

// The first ETX ends the header wherever it stands. Bytes past the buffer's
// capacity are not stored but still read, so an over-long header ends at its
// ETX like any other; descriptors beyond what was stored count as absent.
void ProtocolMachine::TakeHeaderByte(uint8_t value) {
    const int32_t dataBytes = byteCounter_;
    if (static_cast<size_t>(byteCounter_) < header_.size()) header_[byteCounter_++] = value;
    if (value == wire::ETX) HandleHeader(dataBytes);
}

void ProtocolMachine::HandleHeader(int32_t dataBytes) {
    state_ = kHandlingHeader;
    outlets_.SendByte(wire::ACK);
    ReadDescriptor(dataBytes);
    LogNumber(kRecordsLabel, recordCount_);
    LogNumber(kFieldsLabel, fieldsPerRecord_);
    outlets_.SendByte(wire::ENQ);
    state_ = kAwaitTableAck;
}

// Reads the counts of table c_FormNum. The descriptor is used only when this
// header's data bytes (the ETX excluded) covered all its interpreted bytes;
// otherwise, or for a table number outside the buffer, the table counts as
// absent, so nothing left over from an earlier header is ever read.
void ProtocolMachine::ReadDescriptor(int32_t dataBytes) {
    recordCount_ = 0;
    fieldsPerRecord_ = 0;
    const int32_t table = settings_.c_FormNum;
    if (table < 0 || table > wire::kMaxTable) return;
    const size_t start = static_cast<size_t>(table) * wire::kDescriptorSize;
    if (start + wire::kInterpretedBytes > static_cast<size_t>(dataBytes)) return;
    const uint8_t* descriptor = header_.data() + start;
    if (descriptor[wire::kPresenceOffset] == wire::kAbsentTable) return;
    recordCount_ = DecimalDigits(descriptor + wire::kRecordCountOffset, wire::kRecordCountDigits);
    fieldsPerRecord_ = DecimalDigits(descriptor + wire::kFieldCountOffset, wire::kFieldCountDigits);
}

// A length of 0 is an empty frame: its checksum (0) follows at once.
void ProtocolMachine::TakeNameLength(uint8_t value) {
    byteCounter_ = value;
    fileName_.clear();
    state_ = value == 0 ? kNameChecksum : kNameData;
    checksum_ = 0;
}

void ProtocolMachine::TakeNameByte(uint8_t value) {
    --byteCounter_;
    fileName_.push_back(static_cast<char>(value));
    checksum_ = static_cast<uint8_t>(checksum_ + value);
    if (byteCounter_ == 0) state_ = kNameChecksum;
}

// No negative acknowledgement: a byte that differs from the sum is dropped and
// the next one is compared with the same sum.
void ProtocolMachine::TakeNameChecksum(uint8_t value) {
    if (value != checksum_) return;
    outlets_.Log(exchange_, kFileLabel, fileName_);
    outlets_.SendByte(wire::ACK);
    state_ = kFieldLength;
    fieldNumber_ = 1;
    recordsReceived_ = 0;
    barcode_.clear();
    quantity_.clear();
}

void ProtocolMachine::TakeFieldLength(uint8_t value) {
    byteCounter_ = value;
    state_ = value == 0 ? kFieldChecksum : kFieldData;
    checksum_ = 0;
}

// Fields are counted from 1; a field that is neither the barcode nor the
// quantity is verified and acknowledged like the others, its data dropped.
void ProtocolMachine::TakeFieldByte(uint8_t value) {
    if (fieldNumber_ == settings_.c_CodeFldNum) barcode_.push_back(static_cast<char>(value));
    if (fieldNumber_ == settings_.c_CountFldNum) quantity_.push_back(static_cast<char>(value));
    --byteCounter_;
    checksum_ = static_cast<uint8_t>(checksum_ + value);
    if (byteCounter_ == 0) state_ = kFieldChecksum;
}

// The end test runs after every acknowledged field frame, not only after a
// completed record.
void ProtocolMachine::TakeFieldChecksum(uint8_t value) {
    if (value != checksum_) return;
    outlets_.SendByte(wire::ACK);
    state_ = kFieldLength;
    ++fieldNumber_;
    if (fieldNumber_ > fieldsPerRecord_) CompleteRecord();
    if (recordsReceived_ == recordCount_) state_ = kDone;
}

void ProtocolMachine::CompleteRecord() {
    fieldNumber_ = 1;
    // Saturates: an endless stream (absent table) must not overflow the count.
    if (recordsReceived_ < std::numeric_limits<int32_t>::max()) ++recordsReceived_;
    outlets_.AppendRecord(barcode_, quantity_);
    recordLine_.assign(barcode_).append("; ").append(quantity_);
    outlets_.Log(exchange_, kRecordLabel, recordLine_);
    barcode_.clear();
    quantity_.clear();
}

void ProtocolMachine::LogNumber(std::string_view label, int32_t number) {
    char digits[16];
    const auto result = std::to_chars(digits, digits + sizeof digits, number);
    outlets_.Log(exchange_, label, std::string_view(digits, result.ptr - digits));
}

void ProtocolMachine::StartExchange() {
    std::lock_guard lock(mutex_);
    ++exchange_;
    state_ = kAwaitGreetingAck;
    outlets_.ClearRecords();
    outlets_.SendByte(wire::ENQ);
}

void ProtocolMachine::StopExchange() {
    std::lock_guard lock(mutex_);
    state_ = kStopped;
    outlets_.SendByte(wire::ESC);
}

int32_t ProtocolMachine::State() const {
    std::lock_guard lock(mutex_);
    return state_;
}

uint32_t ProtocolMachine::Exchange() const {
    std::lock_guard lock(mutex_);
    return exchange_;
}

}  // namespace pdt
