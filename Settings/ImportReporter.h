#pragma once
#include "Settings/ProgressSink.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <string>

namespace kelvane {

// How a background import talks to its progress sheet: every call reaches the sink on
// the main queue, in the order issued. Progress steps are summed and handed over in
// batches, so a large file does not queue one block per line; the sink still receives
// the same total. Waiting calls are bounded (see onMainAndWait). The sink may be null.
class ImportReporter {
public:
    explicit ImportReporter(std::shared_ptr<ProgressSink> sink);
    ~ImportReporter();
    ImportReporter(const ImportReporter&) = delete;
    ImportReporter& operator=(const ImportReporter&) = delete;

    void setValueAndWait(double value);
    void setTextAndWait(const std::string& text);
    void setText(const std::string& text);
    void setMaxAndText(double max, const std::string& text);
    void increment(double delta);
    // Queues the text, when given, then the completion with `ok`. Called once per import.
    void finish(const std::string* text, std::function<void(bool)> completion, bool ok);

    // Steps summed before they are handed over.
    static constexpr int kBatch = 512;

private:
    void flushSteps();

    std::shared_ptr<ProgressSink> sink_;
    double pending_ = 0;
    int pendingCount_ = 0;
};

// Text files larger than this are refused by their size, before they are read.
inline constexpr std::uintmax_t kMaxImportFileBytes = std::uintmax_t{128} << 20;

// The text of a bad-line message: "第", k, "行格式错误，跳过...", a line feed and the
// line in double quotes.
std::string badLineMessage(long long lineNumber, std::string_view line);

namespace importText {
inline constexpr const char* kAnalysing = "分析码表文件";
inline constexpr const char* kImporting = "导入中...";
inline constexpr const char* kDone = "完成！";
inline constexpr const char* kBadEncoding = "码表编码格式错误";
inline constexpr const char* kAskUtf8 = "请确定编码为 uft-8 不要有 BOM!";
inline constexpr const char* kTooManyBadLines = "错误行数太多，请修正！";
inline constexpr const char* kLibraryTooLarge = "单个词库过大，请拆分后导入。";
inline constexpr const char* kTableTooLarge = "码表文件过大，无法导入。";
inline constexpr const char* kNotADatabase = "数据库文件无效，无法导入。";
inline constexpr const char* kDatabaseFailed = "无法写入数据库，导入未完成。";
inline constexpr const char* kBadFileName = "文件名无效，无法导入。";
inline constexpr const char* kBusy = "另一个导入正在进行，请稍后再试。";
inline constexpr const char* kNotStarted = "导入未能开始。";
} // namespace importText

} // namespace kelvane
