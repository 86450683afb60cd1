#pragma once
// The views of the "qvcloud" and "backups" tabs and their sheets.
#include "Settings/ui/PageRegistry.h"

#include <QString>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace kelvane {
struct AlertModel;
class UploadController;
} // namespace kelvane

namespace kelvane::ui {

QWidget* makeQvCloudView(const PageContext& context);
QWidget* makeBackupsView(const PageContext& context);

// Opens the upload sheet of `presenter` over `parent` (window-modal, not blocking).
QWidget* openUploadSheet(QWidget* parent, std::shared_ptr<UploadController> presenter);

// Shows a window-modal alert without blocking; `onFirst` runs when the first button is
// chosen. `warning` picks the warning icon, else the informational one.
QWidget* showAlert(QWidget* parent, const AlertModel& alert, bool warning, std::function<void()> onFirst = {});

inline QString qs(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

} // namespace kelvane::ui
