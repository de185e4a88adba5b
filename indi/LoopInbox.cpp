#include "indi/LoopInbox.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

#include <indidevapi.h>

namespace velq3::indi {

LoopInbox::LoopInbox() {
    m_Fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_Fd < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
    m_Callback = IEAddCallback(m_Fd, &LoopInbox::OnReadable, this);
}

LoopInbox::~LoopInbox() {
    if (m_Callback >= 0) IERmCallback(m_Callback);
    if (m_Fd >= 0) ::close(m_Fd);
}

void LoopInbox::Post(std::function<void()> task) {
    {
        std::lock_guard lock(m_Mutex);
        m_Tasks.push_back(std::move(task));
    }
    const std::uint64_t one = 1;
    // A full counter (never in practice) still leaves the descriptor readable.
    (void)!::write(m_Fd, &one, sizeof one);
}

void LoopInbox::RunPending() {
    std::uint64_t count = 0;
    (void)!::read(m_Fd, &count, sizeof count);
    for (;;) {
        std::function<void()> task;
        {
            std::lock_guard lock(m_Mutex);
            if (m_Tasks.empty()) return;
            task = std::move(m_Tasks.front());
            m_Tasks.pop_front();
        }
        task();
    }
}

void LoopInbox::OnReadable(int, void* self) { static_cast<LoopInbox*>(self)->RunPending(); }

} // namespace velq3::indi
