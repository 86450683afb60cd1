#pragma once

class QCoreApplication;

namespace kelvane::ui {

// Qt's own texts (the file dialog, the standard buttons) in the user's
// language, from the translations Qt is installed with. False when none are
// there for that language (the texts stay in English).
bool installQtTranslations(QCoreApplication& app);

} // namespace kelvane::ui
