// The mutex of a service line: taken and let go several times per request,
// so its uncontended path is a single atomic instruction, inline, and only
// a worker that finds it held sleeps (on a futex), to be woken by the
// unlock that follows. 0 free, 1 held, 2 held with a worker asleep on it.
#pragma once

#include <atomic>
#include <climits>
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

class LineMutex {
public:
    void lock()
    {
        int free = 0;
        if (!m_state.compare_exchange_strong(free, 1, std::memory_order_acquire))
            lockHeld(free);
    }
    bool try_lock()
    {
        int free = 0;
        return m_state.compare_exchange_strong(free, 1, std::memory_order_acquire);
    }
    void unlock()
    {
        if (m_state.fetch_sub(1, std::memory_order_release) != 1) {
            m_state.store(0, std::memory_order_release);
            futex(FUTEX_WAKE_PRIVATE, 1);
        }
    }

private:
    void lockHeld(int seen)
    {
        // Marked as slept on, so that its unlock wakes a sleeper.
        if (seen != 2)
            seen = m_state.exchange(2, std::memory_order_acquire);
        while (seen != 0) {
            futex(FUTEX_WAIT_PRIVATE, 2);
            seen = m_state.exchange(2, std::memory_order_acquire);
        }
    }
    void futex(int op, int value)
    {
        ::syscall(SYS_futex, reinterpret_cast<int*>(&m_state), op, value, nullptr, nullptr, 0);
    }

    std::atomic<int> m_state{0};
    static_assert(sizeof(std::atomic<int>) == sizeof(int), "the futex word is the atomic itself");
};
