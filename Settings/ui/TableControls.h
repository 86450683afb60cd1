#pragma once
// Small builders shared by the table pages and the editors.
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QPushButton>
#include <QString>
#include <QWidget>

#include <string>
#include <string_view>
#include <vector>

namespace kelvane::ui {

inline QString qtext(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

inline QComboBox* namedCombo(QWidget* parent, const char* name) {
    auto* c = new QComboBox(parent);
    c->setObjectName(name);
    return c;
}

inline QCheckBox* namedBox(QWidget* parent, const char* name, const char* title) {
    auto* b = new QCheckBox(title, parent);
    b->setObjectName(name);
    return b;
}

inline QPushButton* namedButton(QWidget* parent, const char* name, const char* title) {
    auto* b = new QPushButton(title, parent);
    b->setObjectName(name);
    return b;
}

// A grid with the margins and spacing of the table pages.
inline QGridLayout* pageGrid(QWidget* page) {
    auto* grid = new QGridLayout(page);
    grid->setContentsMargins(20, 12, 20, 12);
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(8);
    return grid;
}

// Replaces the items of a pop-up and selects `selected` (-1: none).
template <class Titles> void setItems(QComboBox* combo, const Titles& titles, int selected) {
    combo->clear();
    for (const auto& title : titles)
        combo->addItem(qtext(title));
    combo->setCurrentIndex(selected);
}

// Item i of the code-length pop-up is the length i + 3.
inline void addCodeLengths(QComboBox* combo) {
    for (int n = 3; n <= 10; ++n)
        combo->addItem(QString::number(n) + " 码");
}

// Items 0 (neither), 1 ("EmptyClean") and 2 ("SpaceClean") of the empty-code pop-up.
inline void addEmptyCleanMethods(QComboBox* combo) {
    combo->addItems({"空码不处理", "空码自动清空", "空码按空格清空"});
}

} // namespace kelvane::ui
