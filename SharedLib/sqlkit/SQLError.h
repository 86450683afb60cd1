#pragma once
#include <string>

namespace sqlkit {

// An error value: domain ("SQLDatabase" for the connection's errors), the
// SQLite result code at the time and a description.
class SQLError {
public:
    SQLError() = default;
    SQLError(std::string domain, int code, std::string message)
        : domain_(std::move(domain)), code_(code), message_(std::move(message)) {}

    const std::string& domain() const { return domain_; }
    int code() const { return code_; }
    const std::string& localizedDescription() const { return message_; }

    bool operator==(const SQLError&) const = default;

private:
    std::string domain_;
    int code_ = 0;
    std::string message_;
};

} // namespace sqlkit
