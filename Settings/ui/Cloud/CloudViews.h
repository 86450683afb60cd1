#pragma once
// The views of the "qvcloud" and "backups" tabs and their sheets.
#include "Settings/ui/PageRegistry.h"

#include <QString>
#include <QLabel>
#include <QWidget>

class QHBoxLayout;
class QVBoxLayout;
class QLabel;
class QProgressBar;

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

QLabel* label(QWidget* parent, const char* name, int pixelSize = 13, bool bold = false);
// An indeterminate bar that stands for a spinning indicator.
QProgressBar* busyIndicator(QWidget* parent, const char* name);

// A one-line label that shows a text too long for it cut in the middle ("…"), so that its
// start and its end both show; the whole text is its tooltip.
class MiddleElidedLabel : public QLabel {
public:
    explicit MiddleElidedLabel(QWidget* parent) : QLabel(parent) {}
    void setFullText(const QString& text);
    const QString& fullText() const { return full_; }

protected:
    void resizeEvent(QResizeEvent* e) override;

private:
    void elide();
    QString full_;
};

// What both tab pages share: the cover shown when the store cannot be used, a footer
// with the store's description and the busy indicator above the last failure (wrapped
// to the page's width, hidden when there is none), and appeared() each time the page is
// shown.
class CloudTabPage : public QWidget {
protected:
    CloudTabPage(const PageContext& context, const char* objectName, const char* blockName, const char* busyName);
    QWidget* sheetParent() { return window_ ? window_ : this; }
    QVBoxLayout* footer() const { return footer_; }
    void drawCommon(const std::string& store, const std::string& status, bool busy, bool blocked);
    virtual void appeared() = 0;
    void showEvent(QShowEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

    QWidget* window_;
    bool redrawing_ = false;

private:
    QVBoxLayout* footer_;
    MiddleElidedLabel* store_;
    QLabel *status_, *block_;
    QProgressBar* busy_;
};

inline QString qs(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

} // namespace kelvane::ui
