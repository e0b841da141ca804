#pragma once
#include <functional>
#include <optional>
#include <type_traits>
#include <utility>

// Work that may take long in another process (a call into the office) runs on
// one thread of its own, one piece at a time, while the calling thread waits
// in its event loop (EventWait): the window goes on painting and takes close
// requests. An exception of the work reaches the caller. Work asked for on
// that thread itself, or without an event loop to wait in, runs at once.
void runAside(const std::function<void()>& work);

template <class F> auto aside(F&& work) {
    using Result = std::invoke_result_t<F&>;
    if constexpr (std::is_void_v<Result>) {
        runAside([&] { work(); });
    } else {
        std::optional<Result> result;
        runAside([&] { result.emplace(work()); });
        return std::move(*result);
    }
}
