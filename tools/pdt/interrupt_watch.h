// Ctrl-C (and a polite kill) turned into a call on an ordinary thread, so the
// exchange can be ended cleanly: ESC to the terminal, the port closed, the
// records received so far kept.
#pragma once

#include <functional>
#include <memory>

namespace pdt::cli {

class InterruptWatch {
  public:
    // Must be created before any other thread of the process starts, so that
    // those threads never take the signal themselves (POSIX).
    explicit InterruptWatch(std::function<void()> onInterrupt);
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace pdt::cli
