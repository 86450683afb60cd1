#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "InputMethod/Core/Database/CodeTableFromType.h"

namespace taviro {

// The candidate record. A value: a holder that changes its copy changes no
// other holder's record. Identity is the word (`table`): equality and hash use
// it alone, compared byte for byte (no Unicode normalisation).
struct CodeTable {
    std::string code;            // the typed code, pinyin key or whole buffer
    std::string table;           // the word; the record's identity
    double weight = 0;           // larger is more frequent
    CodeTableFromType from;      // the sources of the candidate
    std::string assistedCode;    // side code that chose the record
    std::string preAssistedCode;
    std::int64_t rowid = 0;

    CodeTable() = default;
    CodeTable(std::string code_, std::string table_, double weight_ = 0,
              CodeTableFromType from_ = {})
        : code(std::move(code_)), table(std::move(table_)), weight(weight_), from(from_) {}

    friend bool operator==(const CodeTable& a, const CodeTable& b) { return a.table == b.table; }
};

} // namespace taviro

template <>
struct std::hash<taviro::CodeTable> {
    std::size_t operator()(const taviro::CodeTable& c) const noexcept {
        return std::hash<std::string>{}(c.table);
    }
};
