#pragma once
#include <string>

namespace kelvane {

// What an import reports to its progress sheet: the bar's value, maximum and steps,
// and the status line. Called on the main queue only.
class ProgressSink {
public:
    virtual ~ProgressSink() = default;
    virtual void setDoubleValue(double value) = 0;
    virtual void setMaxValue(double value) = 0;
    virtual void incrementBy(double delta) = 0;
    virtual void setStringValue(const std::string& text) = 0;
};

} // namespace kelvane
