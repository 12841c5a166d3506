// The exception of model, document and engine operations: a message and an integer code.
// A catcher shows a non-empty message in a box titled "Error" with the exclamation icon; an empty
// message is not shown.
#pragma once

#include <stdexcept>
#include <string>

namespace zef {

class ZEFException : public std::runtime_error {
public:
    explicit ZEFException(const std::string& message, int code = 0)
        : std::runtime_error(message), m_code(code)
    {
    }
    const char* message() const noexcept { return what(); }
    int code() const noexcept { return m_code; }
    bool hasMessage() const noexcept { return what()[0] != '\0'; }

private:
    int m_code;
};

} // namespace zef
