#pragma once
// Factories of the pages built into kelvane_ui (registered in RegisteredPages.cpp).
#include "Settings/ui/PageRegistry.h"

namespace kelvane::ui {

QWidget* makeGeneralTab(const PageContext& context);
QWidget* makeInputModeTab(const PageContext& context);
QWidget* makeSystemTab(const PageContext& context);
QWidget* makeSilenceEditor(const PageContext& context);
// Opens the reset panel over the settings window.
QWidget* openResetPanel(const PageContext& context);

} // namespace kelvane::ui
