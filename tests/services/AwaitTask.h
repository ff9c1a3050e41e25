#pragma once

#include <QCoroTask>
#include <exception>
#include <optional>

// A coroutine's result or what it threw.
template<typename T>
struct Outcome {
    std::optional<T> value;
    std::exception_ptr error;

    template<typename E>
    std::optional<E> errorAs() const
    {
        try {
            if (error)
                std::rethrow_exception(error);
        } catch (const E &e) {
            return e;
        } catch (...) {}
        return std::nullopt;
    }
};

// Runs a coroutine to its end in a nested event loop (tests only) and keeps what it threw:
// QCoro::waitFor alone never returns when the task throws.
template<typename T>
Outcome<T> await(QCoro::Task<T> task)
{
    return QCoro::waitFor([](QCoro::Task<T> task) -> QCoro::Task<Outcome<T>> {
        Outcome<T> outcome;
        try {
            outcome.value = co_await task;
        } catch (...) {
            outcome.error = std::current_exception();
        }
        co_return outcome;
    }(std::move(task)));
}
