// A serial line that reports every byte it moves, for the inactivity time-out
// and the transcript. It forwards every call to the real line unchanged.
#pragma once

#include <cstddef>
#include <cstdint>

#include "serial/line.h"

namespace pdt::cli {

class LineObserver {
  public:
    virtual ~LineObserver() = default;
    // Bytes from the terminal (event thread).
    virtual void Received(const uint8_t* data, size_t count) = 0;
    // Bytes to the terminal, as written to the line (writer thread).
    virtual void Sent(const uint8_t* data, size_t count) = 0;
};

// Lines made by `inner`, each reporting to `observer`, which must outlive them.
serial::LineFactory ObserveLine(serial::LineFactory inner, LineObserver& observer);

}  // namespace pdt::cli
