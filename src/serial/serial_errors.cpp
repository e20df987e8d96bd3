#include "serial/serial_errors.h"

#include <cstdio>

namespace pdt {
namespace {

std::string FormatMessage(const char* messageTemplate, uint16_t port) {
    char text[96];
    std::snprintf(text, sizeof text, messageTemplate, static_cast<int>(port));
    return text;
}

}  // namespace

ESerialIO::ESerialIO(const char* messageTemplate, uint16_t port, std::string systemReason)
    : std::runtime_error(FormatMessage(messageTemplate, port)),
      port_(port),
      systemReason_(std::move(systemReason)) {}

EOpenPortFail::EOpenPortFail(uint16_t port, std::string systemReason)
    : ESerialIO("Can't open COM%d", port, std::move(systemReason)) {}

ENotSupported ENotSupported::Setup(uint16_t port, std::string systemReason) {
    return ENotSupported("Setup parameter not supported for COM%d", port, std::move(systemReason));
}

ENotSupported ENotSupported::Parameter(uint16_t port, std::string systemReason) {
    return ENotSupported("Parameter not supported for COM%d", port, std::move(systemReason));
}

EPortNotOpen::EPortNotOpen(uint16_t port) : ESerialIO("Port COM%d not open", port) {}

EBufferIsEmpty::EBufferIsEmpty(uint16_t port) : ESerialIO("Buffer is empty for port COM%d", port) {}

EOutputBufferTooSmall::EOutputBufferTooSmall(uint16_t port)
    : ESerialIO("Buffer too small for port COM%d", port) {}

EPutBlockFail::EPutBlockFail(uint16_t port) : ESerialIO("Output error for port COM%d", port) {}

}  // namespace pdt
