#pragma once

#include <exception>
#include <string>

namespace brindle {

/// Faults of the native messaging exchange itself and of request fields.
class ProtocolError : public std::exception {
public:
    enum class Case {
        missingField,
        outputWriteFailed,
        truncatedHeader,
        invalidMessageSize,
        truncatedMessage,
        invalidJSON,
        unsupportedAction,
    };

    static ProtocolError missingField(std::string key);
    static ProtocolError outputWriteFailed(int errorNumber);
    static ProtocolError truncatedHeader();
    static ProtocolError invalidMessageSize();
    static ProtocolError truncatedMessage();
    static ProtocolError invalidJSON();
    static ProtocolError unsupportedAction();

    Case errorCase() const noexcept { return case_; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    ProtocolError(Case errorCase, std::string message)
        : case_(errorCase), message_(std::move(message)) {}

    Case case_;
    std::string message_;
};

} // namespace brindle
