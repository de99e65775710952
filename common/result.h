#pragma once

#include <QString>

#include <utility>
#include <variant>

// Why an operation failed, as a user reads it ("No space left on device").
struct Failure {
    QString reason;
};

// What our own code hands back from an operation that can fail when the
// caller decides what follows: the value, or the Failure. A failure that ends
// a command and is shown as it is travels as a MessageError instead.
template <typename T = void> class [[nodiscard]] Result {
public:
    Result(T value) : m_state(std::in_place_index<0>, std::move(value)) {}
    Result(Failure failure) : m_state(std::in_place_index<1>, std::move(failure)) {}

    bool ok() const { return m_state.index() == 0; }
    explicit operator bool() const { return ok(); }
    const T &value() const { return std::get<0>(m_state); }
    T &value() { return std::get<0>(m_state); }
    const T &operator*() const { return value(); }
    const T *operator->() const { return &value(); }
    T value_or(T fallback) const { return ok() ? value() : std::move(fallback); }
    // Empty when the operation succeeded.
    QString reason() const { return ok() ? QString() : std::get<1>(m_state).reason; }

private:
    std::variant<T, Failure> m_state;
};

template <> class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Failure failure) : m_reason(std::move(failure.reason)), m_failed(true) {}

    bool ok() const { return !m_failed; }
    explicit operator bool() const { return ok(); }
    QString reason() const { return m_reason; }

private:
    QString m_reason;
    bool m_failed = false;
};
