#pragma once
// SIGTERM and SIGINT end `serve` gracefully. The signals are blocked in every thread and taken
// by one thread with sigtimedwait, so the work runs in an ordinary thread, never in a handler.

#include <atomic>
#include <functional>
#include <thread>

namespace vorna::service {

class ShutdownSignal
{
public:
    // Call in the main thread before any other thread starts, so all threads inherit the mask.
    static void blockInAllThreads();

    // Starts the waiting thread; `onSignal` runs on it once, with the signal's name.
    explicit ShutdownSignal(std::function<void(const char *signalName)> onSignal);
    ~ShutdownSignal();

    ShutdownSignal(const ShutdownSignal &) = delete;
    ShutdownSignal &operator=(const ShutdownSignal &) = delete;

private:
    void run();

    std::function<void(const char *)> m_onSignal;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

} // namespace vorna::service
