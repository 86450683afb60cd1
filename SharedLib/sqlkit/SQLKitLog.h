#pragma once
#include <functional>
#include <string>
#include <string_view>

namespace sqlkit {

// Every line the layer logs goes through here; by default to stderr.
using SQLLogSink = std::function<void(std::string_view line)>;

void logLine(std::string_view line);

// Replaces the sink (empty restores stderr) and returns the previous one.
SQLLogSink setLogSink(SQLLogSink sink);

} // namespace sqlkit
