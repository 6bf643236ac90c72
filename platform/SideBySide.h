#pragma once

#include <exception>
#include <optional>
#include <system_error>
#include <thread>

// Runs first on this thread and second on a thread of its own meanwhile (one after the other when
// no thread can be started); an exception from either is passed on once both have ended.
template <typename TFirst, typename TSecond> void SideBySide(TFirst&& first, TSecond&& second)
{
    std::exception_ptr failure;
    const auto runSecond = [&] {
        try {
            second();
        } catch (...) {
            failure = std::current_exception();
        }
    };
    {
        std::optional<std::jthread> helper;
        try {
            helper.emplace(runSecond);
        } catch (const std::system_error&) {
            runSecond();
        }
        first(); // the helper is joined however this ends
    }
    if (failure)
        std::rethrow_exception(failure);
}
