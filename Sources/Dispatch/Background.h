// Awaiting blocking work from a main-thread coroutine: the work runs on a pool thread, the
// coroutine resumes on the thread that awaited it, and whatever the work throws is thrown again
// there unchanged (a QFuture alone would wrap foreign exceptions into QUnhandledException).
//
// Coroutines and GCC 12, for every coroutine in this program: GCC 12 destroys a non-trivial
// temporary twice when it is passed by value to a coroutine or lives in a co_await expression.
// So a coroutine takes its arguments by reference from a caller that owns them (a plain
// function hands over owned copies, as Recorder::stopAndSend does), every task is named before
// it is awaited, and nothing that lives across a suspension is a temporary.
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

// Only the future enters the coroutine (GCC 12, see above).
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
