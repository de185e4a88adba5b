// The server module's lock count: live automation objects plus outstanding server locks.
// The server hooks its shutdown rule to the moment the count falls to zero.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

namespace velq3 {

class ModuleLock {
public:
    // Runs on the thread whose Unlock brought the count to zero.
    using ZeroHook = std::function<void()>;

    ModuleLock() = default;
    explicit ModuleLock(ZeroHook onZero) : m_OnZero(std::move(onZero)) {}
    ModuleLock(const ModuleLock&) = delete;
    ModuleLock& operator=(const ModuleLock&) = delete;

    // Set before the first object is created; not synchronised with Unlock.
    void SetZeroHook(ZeroHook onZero) { m_OnZero = std::move(onZero); }

    // Both return the new count.
    std::int32_t Lock() { return ++m_Count; }
    std::int32_t Unlock() {
        const std::int32_t n = --m_Count;
        if (n == 0 && m_OnZero) m_OnZero();
        return n;
    }
    std::int32_t Count() const { return m_Count.load(); }

private:
    std::atomic<std::int32_t> m_Count{0};
    ZeroHook m_OnZero;
};

} // namespace velq3
