// A singleton's pointer as other threads see it: set once the object is
// complete (a release store), read with an acquire load, so that a thread
// that sees the pointer also sees everything the object was built with.
// Reads and writes like a plain pointer.
#pragma once

#include <atomic>

template <typename T>
class Published {
public:
    constexpr Published() = default;
    Published(const Published&) = delete;
    Published& operator=(const Published&) = delete;

    Published& operator=(T* p)
    {
        p_.store(p, std::memory_order_release);
        return *this;
    }
    operator T*() const { return p_.load(std::memory_order_acquire); }
    T* operator->() const { return p_.load(std::memory_order_acquire); }

private:
    std::atomic<T*> p_{nullptr};
};
