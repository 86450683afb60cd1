#include "InputMethod/TavCandidates/Qt/QtAccessibility.h"

#include "InputMethod/TavCandidates/Qt/QtCandidateView.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QPointer>
#include <QWidget>
#include <QWindow>

#include <cmath>
#include <mutex>
#include <vector>

namespace taviro::qt {
namespace {

class CellAccessible : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    CellAccessible(CandidateWidget* widget, int index) : widget_(widget), index_(index) {}

    bool isValid() const override { return cell() != nullptr; }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return widget_ ? widget_->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override {
        return widget_ ? QAccessible::queryAccessibleInterface(widget_.data()) : nullptr;
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QString text(QAccessible::Text t) const override {
        const CandidateCell* c = cell();
        if (!c || t != QAccessible::Name) return {};
        return QString::fromStdString(c->accessibilityLabel());
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override {
        const CandidateCell* c = cell();
        if (!c) return {};
        const Rect r = c->accessibilityFrame();
        return QRect(static_cast<int>(std::lround(r.origin.x)),
                     static_cast<int>(std::lround(primaryScreenBottom() - (r.origin.y + r.size.height))),
                     static_cast<int>(std::lround(r.size.width)), static_cast<int>(std::lround(r.size.height)));
    }
    QAccessible::Role role() const override { return QAccessible::Button; }
    QAccessible::State state() const override {
        QAccessible::State s;
        const CandidateCell* c = cell();
        s.invisible = !c;
        s.focusable = true;
        s.focused = c && c->isSelected;
        s.selected = c && c->isSelected;
        return s;
    }
    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this) : nullptr;
    }
    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString& name) override {
        if (CandidateCell* c = cell(); c && name == pressAction()) c->accessibilityPerformPress();
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    CandidateCell* cell() const {
        if (!widget_) return nullptr;
        const auto& cells = widget_->model().visiableCandidateCells();
        return index_ < static_cast<int>(cells.size()) ? cells[static_cast<std::size_t>(index_)] : nullptr;
    }

    QPointer<CandidateWidget> widget_;
    int index_;
};

class WindowAccessible : public QAccessibleWidget {
public:
    explicit WindowAccessible(CandidateWidget* widget) : QAccessibleWidget(widget, QAccessible::Window) {}
    ~WindowAccessible() override {
        for (const auto id : ids_) QAccessible::deleteAccessibleInterface(id);
    }

    int childCount() const override { return static_cast<int>(candidates().model().visiableCandidateCells().size()); }
    QAccessibleInterface* child(int index) const override {
        if (index < 0 || index >= 9) return nullptr;
        while (static_cast<int>(ids_.size()) <= index)
            ids_.push_back(QAccessible::registerAccessibleInterface(
                new CellAccessible(&candidates(), static_cast<int>(ids_.size()))));
        return index < childCount() ? QAccessible::accessibleInterface(ids_[static_cast<std::size_t>(index)]) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        for (int i = 0; i < childCount(); ++i)
            if (this->child(i) == child) return i;
        return -1;
    }
    QString text(QAccessible::Text t) const override {
        return t == QAccessible::Name ? QStringLiteral("Candidates") : QAccessibleWidget::text(t);
    }

private:
    CandidateWidget& candidates() const { return *static_cast<CandidateWidget*>(widget()); }
    mutable std::vector<QAccessible::Id> ids_;
};

QAccessibleInterface* factory(const QString&, QObject* object) {
    if (auto* widget = dynamic_cast<CandidateWidget*>(object)) return new WindowAccessible(widget);
    return nullptr;
}

} // namespace

void installAccessibility() {
    static std::once_flag once;
    std::call_once(once, [] { QAccessible::installFactory(factory); });
}

void postAccessibilityEvent(CandidateWidget& widget, const AccessibilityEvent& event) {
    if (!QAccessible::isActive()) return;
    if (event.kind == AccessibilityEvent::Kind::applicationHidden) {
        QAccessibleEvent hidden(&widget, QAccessible::ObjectHide);
        QAccessible::updateAccessibility(&hidden);
        return;
    }
    QAccessibleEvent focus(&widget, QAccessible::Focus);
    focus.setChild(event.cellNumber);
    QAccessible::updateAccessibility(&focus);
}

} // namespace taviro::qt
