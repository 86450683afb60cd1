// The system text-replacement store, read-only.
#include "InputMethod/Core/Database/Database.h"
#include "SharedLib/sqlkit/SQLDatabase.h"
#include "SharedLib/sqlkit/SQLResultSet.h"

using sqlkit::SQLDatabase;

namespace taviro {

std::vector<CodeTable> Database::textReplacementPhrases(const std::string& shortcut) {
    std::vector<CodeTable> records;
    inQueue(Queue::textReplacement, [&](SQLDatabase* db) {
        if (!db) return;
        auto rs = db->executeQuery("select ZPHRASE from \"ZTEXTREPLACEMENTENTRY\" where ZSHORTCUT=?", sqlkit::SQLArguments{shortcut});
        if (!rs) return;
        while (rs->next()) {
            std::string phrase = rs->stringForColumnIndex(0).value_or("");
            if (phrase.empty()) continue;
            records.emplace_back(shortcut, std::move(phrase), 0, CodeTableFromType::textReplacement);
        }
        rs->close();
    });
    return records;
}

} // namespace taviro
