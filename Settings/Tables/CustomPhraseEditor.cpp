#include "Settings/Tables/CustomPhraseEditor.h"

#include "Platform/Dispatch/SerialQueue.h"
#include "Settings/Functions/ModelManager.h"
#include "Platform/Foundation/FileUtil.h"
#include "Platform/Foundation/Plist.h"
#include "Platform/Text/TextFileReader.h"
#include "Settings/MainThread.h"
#include "Settings/Pages/PbarController.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <cstdio>
#include <sstream>
#include <locale>

namespace kelvane {

CustomPhraseEditor::CustomPhraseEditor(ModelManager& store)
    : store_(store), queue_(std::make_unique<plat::SerialQueue>("customPhrases")) {}

// The queue waits for its blocks; what they post to the main queue checks alive_.
CustomPhraseEditor::~CustomPhraseEditor() = default;

void CustomPhraseEditor::load() {
    rows_ = queue_->sync([this] { return store_.loadCodeTable(); });
    selected_ = rows_.empty() ? -1 : int(rows_.size()) - 1;
}

std::string CustomPhraseEditor::cellText(int row, int column) const {
    if (row < 0 || row >= int(rows_.size())) return {};
    const CodeTable& r = rows_[size_t(row)];
    switch (column) {
    case code: return r.code;
    case phrase: return r.table;
    case weight: {
        std::ostringstream out;
        out.imbue(std::locale::classic());
        out << r.weight;
        return out.str();
    }
    default: return {};
    }
}

std::optional<double> CustomPhraseEditor::parseWeight(const std::string& text) {
    if (text.empty()) return std::nullopt;
    for (unsigned char c : text)
        if (c >= 0x80 || c <= ' ') return std::nullopt;
    std::istringstream in(text);
    in.imbue(std::locale::classic());
    double value = 0;
    in >> value;
    if (in.fail() || in.peek() != std::char_traits<char>::eof() || !std::isfinite(value)) return std::nullopt;
    return value;
}

bool CustomPhraseEditor::editCell(int row, int column, const std::string& text) {
    if (row < 0 || row >= int(rows_.size()) || text.empty()) return false;
    CodeTable& r = rows_[size_t(row)];
    switch (column) {
    case code: r.code = text; break;
    case phrase: r.table = text; break;
    case weight: {
        const auto value = parseWeight(text);
        if (!value) return false;
        r.weight = *value;
        break;
    }
    default: return false;
    }
    const CodeTable copy = r;
    queue_->sync([this, &copy] { store_.updateCodeTable(copy); });
    return true;
}

void CustomPhraseEditor::addRow(const std::optional<std::string>& pasted) {
    CodeTable row;
    row.code = kNewCode;
    row.table = pasted && !pasted->empty() ? *pasted : kNewPhrase;
    row.weight = 0;
    queue_->sync([this, &row] { store_.insertCodeTable(row); });
    rows_.push_back(row);
    selected_ = int(rows_.size()) - 1;
}

void CustomPhraseEditor::deleteRows(const std::set<int>& indexes) {
    std::vector<CodeTable> doomed;
    for (int i : indexes)
        if (i >= 0 && i < int(rows_.size())) doomed.push_back(rows_[size_t(i)]);
    queue_->sync([this, &doomed] { store_.deleteCodeTable(doomed); });
    load();
}

CustomPhraseEditor::Parsed CustomPhraseEditor::parseText(const std::string& text) {
    Parsed out;
    // One allocation for the rows: growing by doubling would briefly hold them twice.
    out.rows.reserve(static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) + 1);
    for (std::string_view line : plat::splitLines(text)) {
        if (line.empty()) continue;
        const auto fields = plat::splitFields(line);
        if (fields[0] == "//") continue;
        if (fields.size() < 2 || fields.size() > 3) {
            out.badLine = std::string(line);
            out.rows.clear();
            return out;
        }
        CodeTable row;
        row.table = std::string(fields[0]);
        row.code = std::string(fields[1]);
        if (fields.size() == 3) row.weight = parseWeight(std::string(fields[2])).value_or(0);
        out.rows.push_back(std::move(row));
    }
    return out;
}

namespace {
// A weight as a whole number: truncated toward zero, 0 when not finite, clamped to the
// signed 64-bit range.
long long wholeWeight(double weight) {
    if (!std::isfinite(weight)) return 0;
    constexpr double kLimit = 9223372036854775808.0; // 2^63
    if (weight >= kLimit) return std::numeric_limits<long long>::max();
    if (weight < -kLimit) return std::numeric_limits<long long>::min();
    return static_cast<long long>(std::trunc(weight));
}
} // namespace

std::string CustomPhraseEditor::exportText(const std::vector<CodeTable>& rows) {
    std::string out;
    for (const auto& r : rows) out += r.table + "\t" + r.code + "\t" + std::to_string(wholeWeight(r.weight)) + "\n";
    return out;
}

std::optional<std::vector<CodeTable>> CustomPhraseEditor::readShortcutList(const std::filesystem::path& path) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec || size > kMaxDropBytes) return std::nullopt;
    const auto root = plat::readPlistFile(path, plat::PlistValue::Type::Array);
    if (!root) return std::nullopt;
    std::vector<CodeTable> rows;
    for (const auto& item : *root->asArray()) {
        const auto* dict = item.asDictionary();
        if (!dict) return std::nullopt;
        CodeTable row;
        for (const auto& [key, value] : *dict) {
            if (!value.isString()) return std::nullopt;
            if (key == "shortcut") row.code = value.asString();
            else if (key == "phrase") row.table = value.asString();
        }
        // An entry without a shortcut or a phrase would be an empty row: skipped.
        if (row.code.empty() || row.table.empty()) continue;
        rows.push_back(std::move(row));
    }
    return rows;
}

bool CustomPhraseEditor::importRows(const std::vector<CodeTable>& rows, const std::function<void(double)>& progress) {
    const bool added = queue_->sync([this, &rows, &progress] { return store_.insertCodeTable(rows, progress); });
    load();
    return added;
}

std::string CustomPhraseEditor::lineErrorText(const std::string& line) {
    return "错误行：" + line + "\n正确的编码格式应该是： 字\\t码\\t位置";
}

void CustomPhraseEditor::importFile(const std::filesystem::path& path, std::shared_ptr<PbarController> sheet,
                                    std::function<void(bool)> done) {
    importOnWorker(
        [path] {
            Source source;
            const auto text = plat::readTextFile(path);
            if (!text) {
                source.failure = kFileError;
                return source;
            }
            Parsed parsed = parseText(*text);
            if (parsed.badLine) source.failure = lineErrorText(*parsed.badLine);
            else source.rows = std::move(parsed.rows);
            return source;
        },
        std::move(sheet), std::move(done));
}

void CustomPhraseEditor::importShortcutFile(const std::filesystem::path& path, std::shared_ptr<PbarController> sheet,
                                            std::function<void(bool)> done) {
    importOnWorker(
        [path] {
            Source source;
            if (auto rows = readShortcutList(path)) source.rows = std::move(*rows);
            else source.failure = std::string();
            return source;
        },
        std::move(sheet), std::move(done));
}

void CustomPhraseEditor::importOnWorker(std::function<Source()> read, std::shared_ptr<PbarController> sheet,
                                        std::function<void(bool)> done) {
    sheet->setMaxValue(1.0);
    sheet->setDoubleValue(0);
    // The worker touches only the store; the editor itself only on the main queue, while alive.
    queue_->async([this, &store = store_, alive = std::weak_ptr<int>(alive_), read = std::move(read), sheet,
                   done = std::move(done)] {
        Source source = read();
        if (source.failure) {
            onMain([sheet, done, failure = *source.failure] {
                if (failure.empty()) sheet->dismiss();
                else sheet->fail(failure);
                if (done) done(false);
            });
            return;
        }
        std::weak_ptr<PbarController> weakSheet = sheet;
        const bool added = store.insertCodeTable(source.rows, [weakSheet](double fraction) {
            onMain([weakSheet, fraction] {
                if (auto s = weakSheet.lock(); s && !s->dismissed()) s->setDoubleValue(fraction);
            });
        });
        if (!added) {
            // Nothing was added: the list stays as it is.
            onMain([sheet, done] {
                sheet->fail(kStoreError);
                if (done) done(false);
            });
            return;
        }
        // The imported rows are in the store now; let them go before the list is read back.
        std::vector<CodeTable>().swap(source.rows);
        onMain([this, alive, sheet, done, rows = store.loadCodeTable()]() mutable {
            if (alive.lock()) {
                rows_ = std::move(rows);
                selected_ = rows_.empty() ? -1 : int(rows_.size()) - 1;
            }
            sheet->dismiss();
            if (done) done(true);
        });
    });
}

bool CustomPhraseEditor::exportTo(const std::filesystem::path& path) const {
    return plat::writeFileAtomically(path, exportText(rows_));
}

void CustomPhraseEditor::exportFile(const std::filesystem::path& path, std::function<void(bool)> done) {
    queue_->async([path, rows = rows_, done = std::move(done)] {
        const bool ok = plat::writeFileAtomically(path, exportText(rows));
        onMain([done, ok] {
            if (done) done(ok);
        });
    });
}

} // namespace kelvane
