#pragma once

#include <exception>
#include <thread>

namespace tarnvik {

// Calls first() here and second() on a thread of its own; an exception of
// either reaches the caller.
template <typename First, typename Second>
void onTwoThreads(First first, Second second)
{
    std::exception_ptr error;
    std::thread other([&] {
        try {
            second();
        } catch (...) {
            error = std::current_exception();
        }
    });
    try {
        first();
    } catch (...) {
        other.join();
        throw;
    }
    other.join();
    if (error)
        std::rethrow_exception(error);
}

} // namespace tarnvik
