// TScaner: the terminal download protocol on a serial port.
//
// A TComPort whose DataReceived feeds every received byte to the protocol
// machine; the machine's replies are queued on this port, its records go to
// the record list and its progress lines to a sink the owner provides. All of
// that happens on the port's event thread; StartExchange and StopExchange run
// on the owner's thread.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/protocol/protocol_machine.h"
#include "core/protocol/protocol_outlets.h"
#include "core/records/result_list.h"
#include "core/settings/driver_settings.h"
#include "serial/com_port.h"

namespace pdt {

// Receives the progress lines of an exchange (called on the event thread).
class ProgressSink {
  public:
    virtual ~ProgressSink() = default;
    virtual void ProgressLine(uint32_t exchange, std::string_view label,
                              std::string_view payload) = 0;
};

class TScaner : public TComPort, private ProtocolOutlets {
  public:
    // Opens COM<low 16 bits of iComNum> with the configured line parameters,
    // then applies iBaud, iDataBit, iStopBit and iParity one by one. Raises
    // EOpenPortFail or ENotSupported.
    TScaner(const DriverSettings& settings, TResultList& results, ProgressSink& progress,
            serial::LineFactory lineFactory = serial::SystemLineFactory());
    ~TScaner() override;

    void StartExchange();
    void StopExchange();

    int32_t State() const { return machine_.State(); }

  protected:
    void DataReceived(int32_t count) override;

  private:
    void SendByte(uint8_t value) override;
    void SendBlock(const uint8_t* data, uint16_t count) override;
    void Log(uint32_t exchange, std::string_view label, std::string_view payload) override;
    void AppendRecord(std::string_view barcode, std::string_view quantity) override;
    void ClearRecords() override;

    TResultList& results_;
    ProgressSink& progress_;
    ProtocolMachine machine_;
};

}  // namespace pdt
