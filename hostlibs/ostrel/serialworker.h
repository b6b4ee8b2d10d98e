#pragma once
// A thread that runs tasks one after another, in the order they were posted. Blocking gRPC
// calls run here, off the GUI thread; one worker per kind of answer keeps each kind's answers
// in request order.

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace ostrel {

class SerialWorker
{
public:
    explicit SerialWorker(std::string name);
    // Runs the tasks still queued, then joins the thread.
    ~SerialWorker();
    SerialWorker(const SerialWorker &) = delete;
    SerialWorker &operator=(const SerialWorker &) = delete;

    // The thread starts with the first task.
    void post(std::function<void()> task);

private:
    void run();

    std::string m_name;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_tasks;
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace ostrel
