#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "InputMethod/Core/Database/CodeTable.h"

namespace taviro {

// A set of candidates holds one record per word.
using CodeTableSet = std::unordered_set<CodeTable>;

// One member per word; of several records with one word the first wins.
CodeTableSet makeSetFromCodeTables(const std::vector<CodeTable>& records);

// Adds the record unless its word is present. Reports whether it was added,
// together with the member now in the set for that word.
std::pair<bool, CodeTable> insertIntoCodeTableSet(CodeTableSet& set, const CodeTable& record);

// x followed by the records of y whose words do not occur in x, in y's order.
// Duplicates inside y stay.
std::vector<CodeTable> mergeWithoutDuplicates(std::vector<CodeTable> x, const std::vector<CodeTable>& y);

// The records of [begin, end) of the array, clamped to its size.
std::vector<CodeTable> arraySliceToArray(const std::vector<CodeTable>& records, std::size_t begin,
                                         std::size_t end);

// Descending weight; equal weights keep their order.
void sortByWeight(std::vector<CodeTable>& records);

std::string intToString(std::int64_t value);

// A weight text: not empty, no leading white space, read completely as a C-locale
// floating-point number.
std::optional<double> weightFromText(std::string_view text);

} // namespace taviro
