// Hands work from other threads to libindi's event loop: tasks queue under a lock and an
// eventfd registered with the loop wakes it, so they run on libindi's thread, in order.
#pragma once

#include <deque>
#include <functional>
#include <mutex>

namespace velq3::indi {

class LoopInbox {
public:
    // Registers with libindi's loop; construct on libindi's thread. Throws std::system_error
    // when no eventfd can be made.
    LoopInbox();
    ~LoopInbox();
    LoopInbox(const LoopInbox&) = delete;
    LoopInbox& operator=(const LoopInbox&) = delete;

    // Queues `task` for libindi's thread. Any thread.
    void Post(std::function<void()> task);

    // Runs the queued tasks now (libindi's thread); what the loop's callback does.
    void RunPending();

private:
    static void OnReadable(int fd, void* self);

    int m_Fd = -1;
    int m_Callback = -1;
    std::mutex m_Mutex;
    std::deque<std::function<void()>> m_Tasks;
};

} // namespace velq3::indi
