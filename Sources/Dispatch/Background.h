// Awaiting blocking work from a main-thread coroutine: the work runs on a pool thread, the
// coroutine resumes on the thread that awaited it, and whatever the work throws is thrown again
// there unchanged (a QFuture alone would wrap foreign exceptions into QUnhandledException).
#pragma once

#include <QCoroFuture>
#include <QCoroTask>
#include <QtConcurrent/QtConcurrentRun>
#include <exception>
#include <optional>
#include <type_traits>

namespace Dispatch {

namespace detail {
template <typename R>
struct Outcome {
    std::optional<R> value;
    std::exception_ptr error;
};
template <>
struct Outcome<void> {
    std::exception_ptr error;
};

// Only the future enters the coroutine: GCC 12 destroys a temporary passed by value to a
// coroutine twice (a lambda with captures, a QString), so no coroutine here takes one.
template <typename R>
QCoro::Task<R> awaitOutcome(QFuture<Outcome<R>> future) {
    Outcome<R> outcome = co_await future;
    if (outcome.error) {
        std::rethrow_exception(outcome.error);
    }
    if constexpr (!std::is_void_v<R>) {
        co_return std::move(*outcome.value);
    }
}

} // namespace detail

template <typename F, typename R = std::invoke_result_t<F>>
QCoro::Task<R> runInBackground(F work) {
    QFuture<detail::Outcome<R>> future = QtConcurrent::run([work = std::move(work)]() mutable {
        detail::Outcome<R> outcome;
        try {
            if constexpr (std::is_void_v<R>) {
                work();
            } else {
                outcome.value.emplace(work());
            }
        } catch (...) {
            outcome.error = std::current_exception();
        }
        return outcome;
    });
    return detail::awaitOutcome<R>(std::move(future));
}

} // namespace Dispatch
