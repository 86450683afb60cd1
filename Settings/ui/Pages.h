#pragma once
// Factories of the pages built into kelvane_ui (registered in RegisteredPages.cpp).
#include "Settings/ui/PageRegistry.h"

namespace kelvane::ui {

QWidget* makeGeneralTab(const PageContext& context);
QWidget* makeInputModeTab(const PageContext& context);

} // namespace kelvane::ui
