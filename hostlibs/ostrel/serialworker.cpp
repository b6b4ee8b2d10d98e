#include "serialworker.h"

#include <pthread.h>

namespace ostrel {

SerialWorker::SerialWorker(std::string name)
    : m_name(std::move(name))
{
}

SerialWorker::~SerialWorker()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    if (m_thread.joinable())
        m_thread.join();
}

void SerialWorker::post(std::function<void()> task)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_tasks.push_back(std::move(task));
        if (!m_thread.joinable()) {
            m_thread = std::thread([this] { run(); });
            // Thread names show up in debuggers and top; Linux allows 15 characters.
            pthread_setname_np(m_thread.native_handle(), m_name.substr(0, 15).c_str());
        }
    }
    m_wake.notify_one();
}

void SerialWorker::run()
{
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_tasks.empty(); });
            if (m_tasks.empty())
                return;
            task = std::move(m_tasks.front());
            m_tasks.pop_front();
        }
        task();
    }
}

} // namespace ostrel
