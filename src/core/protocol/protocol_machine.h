// The PC's side of the terminal download protocol: a state machine advanced by
// exactly one received byte per step.
//
// It answers the terminal, reports progress and hands over records only
// through its ProtocolOutlets, and reads the protocol settings (c_FormNum,
// c_CodeFldNum, c_CountFldNum) each time it needs one, so a change made between
// exchanges applies to the next one.
//
// Threads: ProcessByte runs on the port's event thread, StartExchange and
// StopExchange on the UI thread. One lock inside the machine covers the state,
// the fields and every outlet call; it is held only for the short work of one
// step, so the event thread never waits for the UI thread's message loop, and
// outlet calls come in the order the bytes arrived. Lock order: machine lock,
// then port lock (SendByte queues through the port); never call into the
// machine while holding a port lock.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <string>

#include "core/protocol/protocol_outlets.h"
#include "core/protocol/protocol_wire.h"
#include "core/settings/driver_settings.h"

namespace pdt {

class ProtocolMachine {
  public:
    // States; the numbers are the ones the protocol's state table uses.
    enum : int32_t {
        kStopped = -1,
        kAwaitGreetingAck = 0,  // after ENQ
        kAwaitBel = 1,          // after "U"
        kAwaitAckForEnq = 2,    // after "T"
        kAwaitAckForRx = 3,     // after ENQ
        kAwaitRxAck = 4,        // after STX "RX" ETX
        kAwaitHeaderStx = 5,
        kHeader = 6,
        kHandlingHeader = 7,
        // there is no state 8
        kAwaitTableAck = 9,  // after the header's ENQ
        kAwaitCuAck = 10,    // after STX "CU" digit ETX
        kNameLength = 11,
        kNameData = 12,
        kNameChecksum = 13,
        kFieldLength = 14,
        kFieldData = 15,
        kFieldChecksum = 16,
        kDone = 17,
    };

    ProtocolMachine(const DriverSettings& settings, ProtocolOutlets& outlets);
    ProtocolMachine(const ProtocolMachine&) = delete;
    ProtocolMachine& operator=(const ProtocolMachine&) = delete;

    // One received byte. Exceptions of the outlets pass through; a reply is
    // always queued before the state moves on, so a failed reply leaves the
    // state where it was.
    void ProcessByte(uint8_t value);

    // State 0, the records of the last exchange dropped, ENQ to the terminal.
    void StartExchange();
    // State -1, ESC to the terminal; later bytes are ignored.
    void StopExchange();

    int32_t State() const;
    // Number of the current exchange, bumped by each StartExchange; passed
    // with every log line.
    uint32_t Exchange() const;

  private:
    void ExpectHandshake(uint8_t value);
    void StartHeader();
    void TakeHeaderByte(uint8_t value);
    void HandleHeader(int32_t dataBytes);
    void ReadDescriptor(int32_t dataBytes);
    void TakeNameLength(uint8_t value);
    void TakeNameByte(uint8_t value);
    void TakeNameChecksum(uint8_t value);
    void TakeFieldLength(uint8_t value);
    void TakeFieldByte(uint8_t value);
    void TakeFieldChecksum(uint8_t value);
    void CompleteRecord();
    void LogNumber(std::string_view label, int32_t number);

    const DriverSettings& settings_;
    ProtocolOutlets& outlets_;
    mutable std::mutex mutex_;

    int32_t recordCount_ = 0;
    int32_t fieldsPerRecord_ = 0;
    std::string barcode_;
    std::string quantity_;
    std::string fileName_;
    int32_t fieldNumber_ = 0;
    int32_t recordsReceived_ = 0;
    uint8_t checksum_ = 0;
    // Header: index of the next byte to store (stops at the capacity).
    // Frame: data bytes still expected.
    int32_t byteCounter_ = 0;
    std::array<uint8_t, wire::kHeaderCapacity> header_{};
    int32_t state_ = kAwaitGreetingAck;
    uint32_t exchange_ = 0;
    std::string recordLine_;  // reused for the "Запись: " payload
};

}  // namespace pdt
