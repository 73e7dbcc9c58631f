// The root of every exception the program raises: a message text and nothing
// else. Named subclasses (EHttpException, ESocketException, ...) live with the
// component that raises them.
#pragma once

#include <exception>
#include <string>
#include <utility>

namespace qm {

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : Message(std::move(message)) {}
    const char* what() const noexcept override { return Message.c_str(); }

    std::string Message;
};

// Raised by the integer helpers when a checked computation leaves its range,
// the counterpart of a runtime range/overflow error.
class EIntOverflow : public Exception {
public:
    EIntOverflow() : Exception("Arithmetic overflow") {}
};

} // namespace qm
