#include "Settings/App/SettingsController.h"
#include "Settings/ConfigManager.h"
#include "Settings/Editors/ExtraCodesController.h"
#include "Settings/Pages/TabThreeController.h"
#include "Settings/ui/PageRegistry.h"
#include "Settings/ui/Pages.h"
#include "Settings/ui/PopOver.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QVBoxLayout>

#include <map>

namespace kelvane::ui {
namespace {

QString qs(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

// Shows `alert` as a sheet over `parent` and calls `answer` with whether its first button
// was pressed.
void askAlert(QWidget* parent, const TabThreeController::Alert& alert, const char* name,
              std::function<void(bool)> answer) {
    // An alert with one button only tells: it asks nothing, and warns only of a failure.
    const bool tells = alert.secondButton.empty();
    const auto icon = alert.critical ? QMessageBox::Critical : tells ? QMessageBox::Information : QMessageBox::Warning;
    auto* box = new QMessageBox(icon, qs(alert.message), qs(alert.message), QMessageBox::NoButton, parent);
    box->setObjectName(name);
    box->setInformativeText(qs(alert.informativeText));
    box->setStyleSheet("QLabel { min-width: 300px; }");
    QPushButton* first = box->addButton(qs(alert.firstButton), QMessageBox::AcceptRole);
    if (!tells) box->addButton(qs(alert.secondButton), QMessageBox::RejectRole);
    box->setWindowModality(Qt::WindowModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(box, &QMessageBox::finished, box,
                     [box, first, answer = std::move(answer)](int) { answer(box->clickedButton() == first); });
    box->open();
}

void showError(QWidget* parent, const std::string& error) {
    auto* box = new QMessageBox(QMessageBox::Warning, "注意", QString::fromStdString(error), QMessageBox::Ok, parent);
    box->setObjectName("errorAlert");
    // Wide enough for a sentence of the import's reasons on one or two full lines.
    box->setStyleSheet("QLabel#qt_msgbox_label { min-width: 380px; }");
    box->setWindowModality(Qt::WindowModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

// The system tab: draws TabThreeController and forwards every click to it.
class SystemTab : public QWidget {
public:
    explicit SystemTab(const PageContext& context)
        : presenter_(*context.config), context_(context) {
        auto* outer = new QVBoxLayout(this);
        outer->setContentsMargins(16, 8, 16, 8);
        outer->setSpacing(4);

        auto* features = new QGridLayout;
        int row = 0;
        for (const auto& info : TabThreeController::boxes()) {
            auto* box = new QCheckBox(qs(info.title), this);
            box->setObjectName(qs(info.outlet));
            const auto b = info.box;
            connect(box, &QCheckBox::clicked, this, [this, b](bool on) {
                presenter_.toggle(b, on);
                refresh();
            });
            boxes_.push_back({box, [this, b] { return presenter_.checked(b); }});
            features->addWidget(box, row, 0);
            for (const auto& editor : TabThreeController::editorButtons())
                if (editor.followsBox == b) features->addWidget(editorButton(editor), row, 1);
            if (b == TabThreeController::Box::keyCount) features->addWidget(help("keyLoggerHelp", TabThreeController::kKeyLoggerHelp), row, 2);
            if (b == TabThreeController::Box::uploadCrashLog)
                features->addWidget(help("uploadCrashLogHelp", TabThreeController::kUploadCrashLogHelp), row, 1, Qt::AlignLeft);
            ++row;
        }
        features->setColumnStretch(3, 1);
        outer->addLayout(features);

        auto* pages = new QGroupBox("翻页键", this);
        auto* pageRow = new QHBoxLayout(pages);
        for (const auto& key : TabThreeController::pageKeys()) {
            auto* box = new QCheckBox(qs(key.title), pages);
            box->setObjectName(qs(key.outlet));
            const int tag = key.tag;
            connect(box, &QCheckBox::clicked, this, [this, tag](bool on) { presenter_.switchPage(tag, on); });
            boxes_.push_back({box, [this, tag] { return presenter_.pageKeyChecked(tag); }});
            pageRow->addWidget(box);
        }
        outer->addWidget(pages);

        auto* fuzzy = new QGroupBox("模糊音", this);
        auto* fuzzyGrid = new QGridLayout(fuzzy);
        fuzzyGrid->setVerticalSpacing(2);
        int slot = 0;
        for (const auto& pair : TabThreeController::fuzzyPairs()) {
            auto* box = new QCheckBox(qs(pair.title), fuzzy);
            box->setObjectName(qs(pair.outlet));
            connect(box, &QCheckBox::clicked, this, [this, box](bool on) {
                presenter_.switchFuzzy(box->text().toStdString(), on);
            });
            const std::string title(pair.title);
            boxes_.push_back({box, [this, title] { return presenter_.fuzzyChecked(title); }});
            fuzzyGrid->addWidget(box, slot / 5, slot % 5);
            ++slot;
        }
        outer->addWidget(fuzzy);

        auto* editors = new QHBoxLayout;
        for (const auto& editor : TabThreeController::editorButtons())
            if (!editor.followsBox) editors->addWidget(editorButton(editor));
        // The extra buffer characters page ("系统" → "额外编码").
        auto* extra = button("extraCodeButton", (std::string(ExtraCodesController::kTitle) + "…").c_str(), [this] {
            if (context_.controller) context_.controller->openSubPage(ExtraCodesController::kRoute);
        });
        extra->setEnabled(static_cast<bool>(subPageFactory(ExtraCodesController::kRoute)));
        editors->addWidget(extra);
        auto* reset = new QPushButton("重置…", this);
        reset->setObjectName("resetButton");
        connect(reset, &QPushButton::clicked, this, [this] { openResetPanel(context_); });
        editors->addWidget(reset);
        editors->addStretch();
        outer->addLayout(editors);

        auto* dict = new QHBoxLayout;
        dict->addWidget(button("gotoExportUserdict", "导出用户词库", [this] { exportUserDictionary(); }));
        dict->addWidget(button("gotoImportUserdict", "导入用户词库", [this] { importUserDictionary(); }));
        dict->addWidget(button("gotoCleanUserdict", "清空用户词库", [this] {
            askAlert(context_.window, TabThreeController::kCleanUserDictAlert, "cleanUserDictAlert",
                     [this](bool yes) { presenter_.cleanUserDictionary(yes); });
        }));
        dict->addStretch();
        dict->addWidget(button("uninstall", "卸载…", [this] { uninstall(); }));
        outer->addLayout(dict);
        outer->addStretch();
    }

    TabThreeController& presenter() { return presenter_; }

protected:
    void showEvent(QShowEvent* event) override {
        QWidget::showEvent(event);
        refresh();
    }

private:
    struct Bound {
        QCheckBox* box;
        std::function<bool()> state;
    };

    QPushButton* button(const char* name, const char* title, std::function<void()> action) {
        auto* b = new QPushButton(title, this);
        b->setObjectName(name);
        connect(b, &QPushButton::clicked, this, std::move(action));
        return b;
    }

    QPushButton* help(const char* name, const std::string& text) {
        auto* b = new QPushButton("?", this);
        b->setObjectName(name);
        b->setFixedSize(20, 20);
        connect(b, &QPushButton::clicked, this, [b, text] { showPopOver(QString::fromStdString(text), b); });
        return b;
    }

    QPushButton* editorButton(const TabThreeController::EditorButton& editor) {
        const std::string route(editor.route);
        auto* b = button(std::string(editor.outlet).c_str(), std::string(editor.title).c_str(), [this, route] {
            if (context_.controller) context_.controller->openSubPage(route);
        });
        editors_[route] = b;
        return b;
    }

    void refresh() {
        for (const auto& bound : boxes_) bound.box->setChecked(bound.state());
        for (const auto& [route, b] : editors_)
            b->setEnabled(presenter_.editorEnabled(route) && static_cast<bool>(subPageFactory(route)));
    }

    void exportUserDictionary() {
        auto* dialog = new QFileDialog(context_.window, "导出用户词库", QString(), "SQLite 数据库 (*.db)");
        dialog->setObjectName("exportPanel");
        dialog->setOption(QFileDialog::DontUseNativeDialog);
        dialog->setAcceptMode(QFileDialog::AcceptSave);
        dialog->setDefaultSuffix("db");
        dialog->selectFile("user.db");
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        connect(dialog, &QFileDialog::finished, this, [this, dialog](int result) {
            std::optional<std::filesystem::path> target;
            if (result == QDialog::Accepted && !dialog->selectedFiles().isEmpty())
                target = dialog->selectedFiles().first().toStdString();
            const auto r = presenter_.exportUserDictionary(target);
            if (!r.ok && !r.cancelled) showError(context_.window, r.error);
        });
        dialog->open();
    }

    void importUserDictionary() {
        auto* dialog = new QFileDialog(context_.window, "导入用户词库", QString(), "SQLite 数据库 (*.db)");
        dialog->setObjectName("importPanel");
        dialog->setOption(QFileDialog::DontUseNativeDialog);
        dialog->setFileMode(QFileDialog::ExistingFile);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        connect(dialog, &QFileDialog::finished, this, [this, dialog](int result) {
            std::optional<std::filesystem::path> chosen;
            if (result == QDialog::Accepted && !dialog->selectedFiles().isEmpty())
                chosen = dialog->selectedFiles().first().toStdString();
            const auto r = presenter_.finishImportUserDictionary(chosen);
            if (!r.ok && !r.cancelled) showError(context_.window, r.error);
        });
        dialog->open();
    }

    // The confirmation says where the backups will stay, the result where they are.
    void uninstall() {
        presenter_.prepareUninstall(runProcess, [this] {
            askAlert(context_.window, presenter_.uninstallAlert(), "uninstallAlert", [this](bool yes) {
                presenter_.uninstall(yes, runProcess, [this] {
                    askAlert(context_.window, presenter_.uninstallResultAlert(), "uninstallResultAlert", [](bool) {});
                });
            });
        });
    }

    // Runs a program without waiting for it; `done` gets its status and what it wrote.
    static void runProcess(const std::string& program, const std::vector<std::string>& arguments,
                           std::function<void(int, const std::string&)> done) {
        auto* process = new QProcess;
        QStringList args;
        for (const auto& a : arguments) args << QString::fromStdString(a);
        auto reported = std::make_shared<bool>(false);
        auto report = [process, done, reported](int status, const std::string& output) {
            if (*reported) return;
            *reported = true;
            done(status, output);
            process->deleteLater();
        };
        QObject::connect(process, &QProcess::finished, process, [process, report](int code, QProcess::ExitStatus how) {
            report(how == QProcess::NormalExit ? code : -1, process->readAll().toStdString());
        });
        QObject::connect(process, &QProcess::errorOccurred, process, [process, report](QProcess::ProcessError error) {
            if (error == QProcess::FailedToStart) report(-1, process->errorString().toStdString() + "\n");
        });
        process->setProcessChannelMode(QProcess::MergedChannels);
        process->start(QString::fromStdString(program), args);
    }

    TabThreeController presenter_;
    PageContext context_;
    std::vector<Bound> boxes_;
    std::map<std::string, QPushButton*> editors_;
};

} // namespace

QWidget* makeSystemTab(const PageContext& context) { return new SystemTab(context); }

} // namespace kelvane::ui
