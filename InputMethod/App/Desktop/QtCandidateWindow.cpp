#include "InputMethod/App/Desktop/QtCandidateWindow.h"

#include "InputMethod/App/Desktop/QtFonts.h"
#include "Platform/InputMethodKit/TextInputClient.h"

#include <QLabel>

#include <algorithm>
#include <sstream>

namespace taviro {

QtCandidateWindow::QtCandidateWindow(bool vertical, std::function<double()> screenHeight)
    : PagedCandidateWindow(vertical), screenHeight_(std::move(screenHeight)), label_(std::make_unique<QLabel>()) {
    label_->setWindowFlags(Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::WindowDoesNotAcceptFocus | Qt::X11BypassWindowManagerHint);
    label_->setAttribute(Qt::WA_ShowWithoutActivating);
    label_->setFocusPolicy(Qt::NoFocus);
    label_->setWindowTitle("TaviroMac2 Candidates");
    label_->setMargin(6);
    label_->setStyleSheet("QLabel { background: white; color: black; border: 1px solid #c8c8c8; }");
    label_->setFont(uiFont(static_cast<int>(fontSize())));
}

QtCandidateWindow::~QtCandidateWindow() = default;

void QtCandidateWindow::redraw() {
    std::string text = render();
    if (isVertical()) std::replace(text.begin(), text.end(), ' ', '\n');
    label_->setText(QString::fromStdString(text));
    label_->adjustSize();
}

void QtCandidateWindow::reloadCandidates() {
    PagedCandidateWindow::reloadCandidates();
    if (!isVisible()) label_->hide();
    redraw();
}

void QtCandidateWindow::highlightCandidate(int index) {
    PagedCandidateWindow::highlightCandidate(index);
    redraw();
}

bool QtCandidateWindow::nextPage() {
    const bool changed = PagedCandidateWindow::nextPage();
    redraw();
    return changed;
}

bool QtCandidateWindow::previousPage() {
    const bool changed = PagedCandidateWindow::previousPage();
    redraw();
    return changed;
}

void QtCandidateWindow::showAtCaret(plat::TextInputClient* client) {
    PagedCandidateWindow::showAtCaret(client);
    if (!isVisible()) return;
    redraw();
    plat::TextRect line;
    if (client) client->attributesForCharacterIndex(0, &line);
    // The line's lower edge in Qt's coordinates; the window goes just below it.
    const double height = screenHeight_ ? screenHeight_() : 1080.0;
    label_->move(static_cast<int>(line.x), static_cast<int>(height - line.y) + 2);
    label_->show();
    label_->raise();
}

void QtCandidateWindow::close() {
    PagedCandidateWindow::close();
    label_->hide();
}

void QtCandidateWindow::setFontSize(FontSize size) {
    PagedCandidateWindow::setFontSize(size);
    label_->setFont(uiFont(static_cast<int>(size)));
    redraw();
}

} // namespace taviro
