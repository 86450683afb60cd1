#include "InputMethod/Core/Database/CodeTableLists.h"

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <locale.h>

namespace taviro {

CodeTableSet makeSetFromCodeTables(const std::vector<CodeTable>& records) {
    CodeTableSet set;
    set.reserve(records.size());
    for (const auto& r : records) set.insert(r);
    return set;
}

std::pair<bool, CodeTable> insertIntoCodeTableSet(CodeTableSet& set, const CodeTable& record) {
    auto [it, added] = set.insert(record);
    return {added, *it};
}

std::vector<CodeTable> mergeWithoutDuplicates(std::vector<CodeTable> x, const std::vector<CodeTable>& y) {
    const CodeTableSet present = makeSetFromCodeTables(x);
    std::vector<CodeTable> extra;
    for (const auto& r : y)
        if (!present.count(r)) extra.push_back(r);
    x.insert(x.end(), std::make_move_iterator(extra.begin()), std::make_move_iterator(extra.end()));
    return x;
}

std::vector<CodeTable> arraySliceToArray(const std::vector<CodeTable>& records, std::size_t begin,
                                         std::size_t end) {
    end = std::min(end, records.size());
    if (begin >= end) return {};
    return std::vector<CodeTable>(records.begin() + static_cast<std::ptrdiff_t>(begin),
                                  records.begin() + static_cast<std::ptrdiff_t>(end));
}

void sortByWeight(std::vector<CodeTable>& records) {
    std::stable_sort(records.begin(), records.end(),
              [](const CodeTable& a, const CodeTable& b) { return a.weight > b.weight; });
}

std::string intToString(std::int64_t value) { return std::to_string(value); }

std::optional<double> weightFromText(std::string_view text) {
    if (text.empty()) return std::nullopt;
    switch (text.front()) {
    case ' ': case '\t': case '\n': case '\v': case '\f': case '\r':
        return std::nullopt;
    default:
        break;
    }
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    const std::string owned(text);  // strtod needs a terminated text
    char* end = nullptr;
    double v = strtod_l(owned.c_str(), &end, cLocale);
    if (end != owned.c_str() + owned.size()) return std::nullopt;
    return v;
}

} // namespace taviro
