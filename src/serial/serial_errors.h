// The serial layer's exceptions. Each message is a fixed English text naming
// the port ("Port COM3 not open"); the system's own reason for the failure
// (errno text, GetLastError text), when there is one, is kept apart in
// SystemReason() so that a tool can print it without changing the message.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace pdt {

class ESerialIO : public std::runtime_error {
  public:
    ESerialIO(const char* messageTemplate, uint16_t port, std::string systemReason = {});

    uint16_t Port() const { return port_; }
    const std::string& SystemReason() const { return systemReason_; }

  private:
    uint16_t port_;
    std::string systemReason_;
};

class EOpenPortFail : public ESerialIO {
  public:
    explicit EOpenPortFail(uint16_t port, std::string systemReason = {});
};

class ENotSupported : public ESerialIO {
  public:
    // SetupComm refused the queue sizes.
    static ENotSupported Setup(uint16_t port, std::string systemReason = {});
    // SetCommState refused the line parameters.
    static ENotSupported Parameter(uint16_t port, std::string systemReason = {});

  private:
    using ESerialIO::ESerialIO;
};

class EPortNotOpen : public ESerialIO {
  public:
    explicit EPortNotOpen(uint16_t port);
};

class EBufferIsEmpty : public ESerialIO {
  public:
    explicit EBufferIsEmpty(uint16_t port);
};

class EOutputBufferTooSmall : public ESerialIO {
  public:
    explicit EOutputBufferTooSmall(uint16_t port);
};

class EPutBlockFail : public ESerialIO {
  public:
    explicit EPutBlockFail(uint16_t port);
};

}  // namespace pdt
