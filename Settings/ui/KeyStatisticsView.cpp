#include "Settings/Tables/KeyStatisticsPage.h"
#include "Settings/ui/PageRegistry.h"
#include "Settings/ui/Pages.h"
#include "Settings/ui/Style.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QTabBar>

namespace kelvane::ui {
namespace {

// The key statistics page: six counts over KeyStatisticsPage.
class KeyStatisticsView : public QWidget {
public:
    explicit KeyStatisticsView(const PageContext&) : page_(ModelManager::shared()) {
        setFont(uiFont());
        setMinimumSize(300, 240);
        auto* grid = new QGridLayout(this);
        kind_ = new QTabBar(this);
        kind_->setObjectName("kindSelector");
        kind_->addTab("按键");
        kind_->addTab("字数");
        grid->addWidget(kind_, 0, 0, 1, 2, Qt::AlignHCenter);
        const char* captions[] = {"今天", "昨天", "本月", "上月", "今年", "全部"};
        for (int i = 0; i < 6; ++i) {
            grid->addWidget(new QLabel(captions[i], this), i + 1, 0);
            labels_[size_t(i)] = new QLabel(this);
            labels_[size_t(i)]->setObjectName(QString("l%1").arg(i + 1));
            grid->addWidget(labels_[size_t(i)], i + 1, 1, Qt::AlignRight);
        }
        auto* reset = new QPushButton("清空统计", this);
        reset->setObjectName("reset");
        grid->addWidget(reset, 7, 0, 1, 2, Qt::AlignHCenter);
        connect(kind_, &QTabBar::currentChanged, this, [this](int) { reload(); });
        connect(reset, &QPushButton::clicked, this, [this] {
            page_.reset();
            reload();
        });
        reload();
    }

private:
    void reload() {
        const auto counts = page_.counts(kind_->currentIndex() == 0 ? KeyLoggerType::key : KeyLoggerType::character);
        for (size_t i = 0; i < 6; ++i) labels_[i]->setText(QString::number(counts[i]));
    }

    KeyStatisticsPage page_;
    QTabBar* kind_;
    std::array<QLabel*, 6> labels_{};
};

} // namespace

QWidget* makeKeyStatisticsView(const PageContext& context) { return new KeyStatisticsView(context); }

} // namespace kelvane::ui
