#include "serial/tscaner.h"

namespace pdt {
namespace {

LineParams ConfiguredParams(const DriverSettings& settings) {
    return {settings.iBaud, static_cast<uint8_t>(settings.iDataBit),
            static_cast<uint8_t>(settings.iStopBit), static_cast<uint8_t>(settings.iParity)};
}

}  // namespace

TScaner::TScaner(const DriverSettings& settings, TResultList& results, ProgressSink& progress,
                 serial::LineFactory lineFactory)
    : TComPort(std::move(lineFactory), static_cast<uint16_t>(settings.iComNum & 0xFFFF),
               ConfiguredParams(settings), DeferOpen{}),
      results_(results),
      progress_(progress),
      machine_(settings, *this) {
    if (PortNumber() == 0) return;
    // The port is opened with the configured parameters, so a driver that
    // refuses some other rate cannot make a valid configuration fail; the
    // setters then program each parameter once more, in this order.
    Open();
    SetBaud(settings.iBaud);
    SetDataBits(static_cast<uint8_t>(settings.iDataBit));
    SetStopBits(static_cast<uint8_t>(settings.iStopBit));
    SetParity(static_cast<uint8_t>(settings.iParity));
}

TScaner::~TScaner() {
    Close();
}

void TScaner::StartExchange() {
    machine_.StartExchange();
}

void TScaner::StopExchange() {
    machine_.StopExchange();
}

void TScaner::DataReceived(int32_t count) {
    for (int32_t i = 0; i < count; ++i) machine_.ProcessByte(GetChar());
}

void TScaner::SendByte(uint8_t value) {
    PutChar(value);
}

void TScaner::SendBlock(const uint8_t* data, uint16_t count) {
    PutBlock(data, count);
}

void TScaner::Log(uint32_t exchange, std::string_view label, std::string_view payload) {
    progress_.ProgressLine(exchange, label, payload);
}

void TScaner::AppendRecord(std::string_view barcode, std::string_view quantity) {
    results_.Append(barcode, quantity);
}

void TScaner::ClearRecords() {
    results_.Clear();
}

}  // namespace pdt
