// SIGINT and SIGTERM are blocked in every thread and taken by one watcher
// thread with sigwait, so the callback runs as ordinary code (it may lock and
// notify) instead of inside a signal handler.
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <thread>

#include "../interrupt_watch.h"

namespace pdt::cli {

struct InterruptWatch::Impl {
    sigset_t signals{};
    sigset_t previousMask{};
    std::atomic<bool> closing{false};
    std::thread watcher;
};

InterruptWatch::InterruptWatch(std::function<void()> onInterrupt)
    : impl_(std::make_unique<Impl>()) {
    sigemptyset(&impl_->signals);
    sigaddset(&impl_->signals, SIGINT);
    sigaddset(&impl_->signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &impl_->signals, &impl_->previousMask);
    impl_->watcher = std::thread([impl = impl_.get(), onInterrupt = std::move(onInterrupt)] {
        for (;;) {
            int signal = 0;
            if (sigwait(&impl->signals, &signal) != 0) continue;
            if (impl->closing.load()) return;
            onInterrupt();
        }
    });
}

InterruptWatch::~InterruptWatch() {
    impl_->closing.store(true);
    pthread_kill(impl_->watcher.native_handle(), SIGTERM);
    impl_->watcher.join();
    // A Ctrl-C that came meanwhile stays pending and would strike when the mask
    // is lifted; the tool is ending anyway, so leave the signals blocked.
}

}  // namespace pdt::cli
