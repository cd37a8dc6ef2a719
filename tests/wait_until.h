// The one way the tests wait for a state: polled, with a deadline far beyond
// what the slowest build (a sanitizer's, on a busy machine) takes. A test
// waits a fixed time only where that time is what it checks.
#pragma once

#include <chrono>
#include <thread>

template <class Predicate>
bool waitUntil(Predicate ready, std::chrono::seconds deadline = std::chrono::seconds(120),
               std::chrono::microseconds interval = std::chrono::milliseconds(10)) {
    const auto until = std::chrono::steady_clock::now() + deadline;
    while (!ready()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(interval);
    }
    return true;
}
