#pragma once
// Factories of the pages built into kelvane_ui (registered in RegisteredPages.cpp).
#include "Settings/ui/PageRegistry.h"

namespace kelvane::ui {

QWidget* makeGeneralTab(const PageContext& context);
QWidget* makeInputModeTab(const PageContext& context);
QWidget* makeSystemTab(const PageContext& context);
QWidget* makeSilenceEditor(const PageContext& context);
// The code-table page (code tables alone).
QWidget* makeCodeTableView(const PageContext& context);
// The custom phrase editor.
QWidget* makeCustomPhraseView(const PageContext& context);
// The key statistics page.
QWidget* makeKeyStatisticsView(const PageContext& context);
// The word-library page.
QWidget* makeExtendedView(const PageContext& context);
// The double-pinyin page.
QWidget* makeShuangPinView(const PageContext& context);
// The double-pinyin scheme editor, opened from the double-pinyin page.
QWidget* makeSchemeEditorView(const PageContext& context);
// The punctuation map editor.
QWidget* makePuncMapView(const PageContext& context);
// The guide-button editor.
QWidget* makeBootButtonsView(const PageContext& context);
// The extra buffer characters page.
QWidget* makeExtraCodesView(const PageContext& context);
// The combined scheme page (double or full pinyin with code tables).
QWidget* makeCombinedSchemeView(const PageContext& context);
// Opens the reset panel over the settings window.
QWidget* openResetPanel(const PageContext& context);

} // namespace kelvane::ui
