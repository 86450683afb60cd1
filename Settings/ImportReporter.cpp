#include "Settings/ImportReporter.h"

#include "Settings/MainThread.h"

#include <optional>

namespace kelvane {

ImportReporter::ImportReporter(std::shared_ptr<ProgressSink> sink) : sink_(std::move(sink)) {}

ImportReporter::~ImportReporter() { flushSteps(); }

void ImportReporter::flushSteps() {
    if (pendingCount_ == 0) return;
    const double delta = pending_;
    pending_ = 0;
    pendingCount_ = 0;
    if (sink_) onMain([sink = sink_, delta] { sink->incrementBy(delta); });
}

void ImportReporter::setValueAndWait(double value) {
    flushSteps();
    if (sink_) onMainAndWait([sink = sink_, value] { sink->setDoubleValue(value); });
}

void ImportReporter::setTextAndWait(const std::string& text) {
    flushSteps();
    if (sink_) onMainAndWait([sink = sink_, text] { sink->setStringValue(text); });
}

void ImportReporter::setText(const std::string& text) {
    flushSteps();
    if (sink_) onMain([sink = sink_, text] { sink->setStringValue(text); });
}

void ImportReporter::setMaxAndText(double max, const std::string& text) {
    flushSteps();
    if (sink_)
        onMain([sink = sink_, max, text] {
            sink->setMaxValue(max);
            sink->setStringValue(text);
        });
}

void ImportReporter::increment(double delta) {
    pending_ += delta;
    if (++pendingCount_ >= kBatch) flushSteps();
}

void ImportReporter::finish(const std::string* text, std::function<void(bool)> completion, bool ok) {
    flushSteps();
    std::optional<std::string> status;
    if (text) status = *text;
    onMain([sink = sink_, status, completion = std::move(completion), ok] {
        if (sink && status) sink->setStringValue(*status);
        if (completion) completion(ok);
    });
}

std::string badLineMessage(long long lineNumber, std::string_view line) {
    std::string text = "第" + std::to_string(lineNumber) + "行格式错误，跳过...\n\"";
    text.append(line);
    text += "\"";
    return text;
}

} // namespace kelvane
