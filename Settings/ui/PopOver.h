#pragma once
#include <QString>

class QWidget;

namespace kelvane::ui {

// Shows `text` in a pop-over under `anchor` (the pressed help button); a click elsewhere
// closes it. Each call makes a new one. A null anchor shows nothing. Returns the pop-over.
QWidget* showPopOver(const QString& text, QWidget* anchor);

} // namespace kelvane::ui
