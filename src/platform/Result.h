#pragma once

#include <string>
#include <utility>
#include <variant>

namespace zul::platform {

// Failure numbers follow the classic runtime's numbering so that callers can
// react to "file not found" (53) the way the plug-in's callers expect.
enum class ErrorCode : int {
    InvalidArgument = 5,
    BadFileName = 52,
    FileNotFound = 53,
    PermissionDenied = 70,
    PathNotFound = 76,
    IoError = 57,
    Overflow = 6,
    Other = 1,
};

struct Error {
    ErrorCode code = ErrorCode::Other;
    std::string description;
};

// A value or an error; errors in the core are values, never exceptions.
template <typename T>
class Result {
public:
    Result(T value) : m_v(std::move(value)) {}
    Result(Error error) : m_v(std::move(error)) {}

    bool ok() const { return m_v.index() == 0; }
    explicit operator bool() const { return ok(); }
    T& value() { return std::get<0>(m_v); }
    const T& value() const { return std::get<0>(m_v); }
    T& operator*() { return value(); }
    const T& operator*() const { return value(); }
    T* operator->() { return &value(); }
    const Error& error() const { return std::get<1>(m_v); }

private:
    std::variant<T, Error> m_v;
};

struct Unit {};
using Status = Result<Unit>;
inline Status success() { return Unit{}; }

Error errorFromErrno(int err, const std::string& path);

} // namespace zul::platform
