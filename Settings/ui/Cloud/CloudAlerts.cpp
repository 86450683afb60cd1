#include "Settings/Cloud/UploadController.h"
#include "Settings/ui/Cloud/CloudViews.h"
#include "Settings/ui/Style.h"

#include <QMessageBox>
#include <QPushButton>

namespace kelvane::ui {

QWidget* showAlert(QWidget* parent, const AlertModel& alert, bool warning, std::function<void()> onFirst) {
    auto* box = new QMessageBox(parent);
    box->setObjectName("alert");
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->setFont(uiFont());
    box->setIcon(warning ? QMessageBox::Warning : QMessageBox::Information);
    box->setText(qs(alert.message));
    box->setInformativeText(qs(alert.informative));
    QPushButton* first = nullptr;
    for (size_t i = 0; i < alert.buttons.size(); ++i) {
        auto* b = box->addButton(qs(alert.buttons[i]), i == 0 ? QMessageBox::AcceptRole : QMessageBox::RejectRole);
        if (i == 0) first = b;
    }
    if (first) box->setDefaultButton(first);
    QObject::connect(box, &QMessageBox::buttonClicked, box, [box, first, onFirst](QAbstractButton* clicked) {
        if (clicked == first && onFirst) onFirst();
        box->close();
    });
    box->open();
    return box;
}

} // namespace kelvane::ui
