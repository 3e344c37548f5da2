#pragma once

#include <chrono>
#include <cstdio>

namespace vel::bench {

// Mean seconds per call of fn, repeating it for at least minSeconds (and at least 3 times).
template <class Fn>
double secondsPerCall(Fn&& fn, double minSeconds = 0.5)
{
    using clock = std::chrono::steady_clock;
    fn(); // warm-up
    long calls = 0;
    const auto start = clock::now();
    double elapsed = 0;
    do {
        fn();
        ++calls;
        elapsed = std::chrono::duration<double>(clock::now() - start).count();
    } while (elapsed < minSeconds || calls < 3);
    return elapsed / static_cast<double>(calls);
}

// Keeps a value alive so the optimiser cannot drop the work that made it.
template <class T>
void keep(const T& value)
{
    asm volatile("" : : "g"(&value) : "memory");
}

} // namespace vel::bench
