#pragma once
#include <cstdint>
#include <functional>
#include <string>

namespace kelvane {

// Which source produced a candidate record (an option set).
using CodeTableFromType = int64_t;

// A candidate record as the preferences application exchanges it. Two records are
// equal, and hash alike, when their words (`table`) are equal.
struct CodeTable {
    std::string code;             // the typed code
    std::string table;            // the word
    double weight = 0;
    CodeTableFromType from = 0;
    std::string assistedCode;
    std::string preAssistedCode;
    int64_t rowid = 0;

    bool operator==(const CodeTable& other) const { return table == other.table; }
};

} // namespace kelvane

template <>
struct std::hash<kelvane::CodeTable> {
    size_t operator()(const kelvane::CodeTable& c) const noexcept { return std::hash<std::string>()(c.table); }
};
