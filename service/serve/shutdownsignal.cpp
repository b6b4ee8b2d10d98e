#include "serve/shutdownsignal.h"

#include <csignal>
#include <ctime>

#include <pthread.h>

namespace vorna::service {

namespace {

sigset_t shutdownSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    return set;
}

} // namespace

void ShutdownSignal::blockInAllThreads()
{
    const sigset_t set = shutdownSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

ShutdownSignal::ShutdownSignal(std::function<void(const char *)> onSignal)
    : m_onSignal(std::move(onSignal))
    , m_thread([this] { run(); })
{
}

ShutdownSignal::~ShutdownSignal()
{
    m_stop = true;
    m_thread.join();
}

void ShutdownSignal::run()
{
    const sigset_t set = shutdownSignals();
    // Waking up now and then lets the destructor stop this thread without a signal of its own.
    const timespec slice{0, 200 * 1000 * 1000};
    while (!m_stop) {
        const int signal = sigtimedwait(&set, nullptr, &slice);
        if (signal == SIGTERM || signal == SIGINT) {
            m_onSignal(signal == SIGTERM ? "SIGTERM" : "SIGINT");
            return;
        }
    }
}

} // namespace vorna::service
