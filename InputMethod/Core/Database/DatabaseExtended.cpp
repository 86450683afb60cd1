// Extended word libraries in extended.db.
#include "InputMethod/Core/Database/CodeTableLists.h"
#include "InputMethod/Core/Database/Database.h"
#include "InputMethod/Core/Database/StoreSql.h"
#include "InputMethod/Core/FuzzyPinyin.h"
#include "InputMethod/Core/PyString.h"
#include "SharedLib/sqlkit/SQLDatabase.h"
#include "SharedLib/sqlkit/SQLResultSet.h"

using sqlkit::SQLDatabase;

namespace taviro {

std::string Database::extendedWhereClause(const SyllableAlternatives& syllables) const {
    return extendedWhereClause(syllables, *currentSettings());
}

std::string Database::extendedWhereClause(const SyllableAlternatives& syllables, const Settings& settings) const {
    // Back and forth through the codes: standard spellings plus fuzzy partners;
    // every text in the result comes from the syllable table.
    const auto texts = PyString::syllableTextsForCodes(
        expandFuzzySyllableCodes(PyString::syllableCodesForTexts(syllables), settings));
    std::string text = " ";
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const std::string n = std::to_string(i + 1);
        const auto& position = texts[i];
        if (i + 1 == texts.size() && !position.empty()) {
            auto code = PyString::syllableCodeForText(position.front());
            if (code && PyString::isBareInitialCode(*code)) {
                text += "p" + n + " >= '" + position.front() + "' and p" + n + " < '" + position.front() +
                        "zzzzzzzz'     ";
                break;
            }
        }
        text += "p" + n + " in ('";
        for (std::size_t k = 0; k < position.size(); ++k) {
            if (k) text += "','";
            text += position[k];
        }
        text += "') and ";
    }
    text.erase(text.size() >= 4 ? text.size() - 4 : 0);
    return text;
}

std::vector<CodeTable> Database::extendedLookup(const SyllableAlternatives& syllables) {
    std::vector<CodeTable> records;
    const auto settings = currentSettings();
    if (settings->disableDatabase || !settings->extendedDict) return records;
    if (syllables.size() < 2 || syllables.size() > 10) return records;
    const std::string sql = "SELECT Word,Weight FROM " +
                            storesql::quoteIdentifier(std::string("w").append(std::to_string(syllables.size()))) + " WHERE " +
                            extendedWhereClause(syllables, *settings) + "  ORDER BY Weight";
    inQueue(Queue::extended, [&](SQLDatabase* db) {
        if (!db) return;
        auto rs = db->executeQuery(sql, sqlkit::SQLArguments{});
        if (!rs) return;
        CodeTableSet seen;
        while (rs->next()) {
            auto word = rs->stringForColumnIndex(0);
            if (!word) continue;
            CodeTable r("", *word, rs->doubleForColumnIndex(1), CodeTableFromType{});
            if (insertIntoCodeTableSet(seen, r).first) records.push_back(std::move(r));
        }
        rs->close();
    });
    return records;
}

} // namespace taviro
