#pragma once
#include <functional>
#include <optional>
#include <type_traits>
#include <utility>

// Work that may take long in another process (a call into the office) runs on
// one thread of its own, one piece at a time, while the calling thread waits
// in its event loop: the window goes on painting and takes close requests. An
// exception of the work reaches the caller. Work asked for on that thread
// itself, or without an event loop to wait in, runs at once.
//
// Past the limit of silence the user is asked whether to keep waiting (a
// LongWait for the office), and a close request asks the same. Stopping gives
// the other process up (giveUp ends it, so that the work returns) and raises
// Stopped once the work has returned.
struct GiveUp {
    int limitMs = -1; // none: the wait goes on until the work ends
    std::function<void()> end;
};
void runAside(const std::function<void()>& work, const GiveUp& giveUp = {});

template <class F> auto aside(F&& work, const GiveUp& giveUp = {}) {
    using Result = std::invoke_result_t<F&>;
    if constexpr (std::is_void_v<Result>) {
        runAside([&] { work(); }, giveUp);
    } else {
        std::optional<Result> result;
        runAside([&] { result.emplace(work()); }, giveUp);
        return std::move(*result);
    }
}
