// Waiting for something another thread or process does: polls a condition
// until it holds or the time is up.
#pragma once

#include <chrono>
#include <thread>

// True once condition() holds; false when timeoutMs passed first.
template <typename F>
bool waitFor(F condition, int timeoutMs = 3000)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}
