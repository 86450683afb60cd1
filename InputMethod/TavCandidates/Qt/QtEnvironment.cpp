#include "InputMethod/TavCandidates/Qt/QtCandidateView.h"
#include "InputMethod/TavCandidates/Qt/QtCandidateWindows.h"
#include "InputMethod/TavCandidates/Qt/QtFonts.h"

#include <QCursor>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QScreen>

#include <cmath>
#include <map>
#include <memory>
#include <set>
#include <string>

namespace taviro::qt {

// --- fonts -------------------------------------------------------------------

QFont qtFont(const Font& font) {
    QStringList families;
    if (!font.family.empty()) families << QString::fromStdString(font.family);
    families << QStringLiteral("Noto Sans") << QStringLiteral("DejaVu Sans") << QStringLiteral("Noto Sans CJK SC");
    QFont f;
    f.setFamilies(families);
    f.setPixelSize(std::max(1, static_cast<int>(std::lround(font.pointSize))));
    f.setWeight(font.medium ? QFont::Medium : QFont::Normal);
    return f;
}

namespace {

// Measures with cached metrics per font; a line is as high as the CJK font
// needs, whichever family draws the Latin text.
class QtMeasurer : public TextMeasurer {
public:
    Size sizeToFit(const std::string& text, const Font& font) const override {
        const Metrics& m = metrics(font);
        const double width = m.text.horizontalAdvance(QString::fromStdString(text));
        return {std::ceil(width) + 4.0, std::ceil(m.lineHeight)};
    }

    bool hasFont(const std::string& family) const override {
        if (family.empty()) return true;
        if (families_.empty())
            for (const auto& f : QFontDatabase::families()) families_.insert(f.toStdString());
        return families_.count(family) > 0;
    }

private:
    struct Metrics {
        QFontMetricsF text;
        double lineHeight;
    };
    struct Key {
        Font font;
        bool operator<(const Key& o) const {
            return std::tie(font.family, font.pointSize, font.medium) <
                   std::tie(o.font.family, o.font.pointSize, o.font.medium);
        }
    };

    const Metrics& metrics(const Font& font) const {
        auto it = cache_.find(Key{font});
        if (it == cache_.end()) {
            QFont cjk;
            cjk.setFamilies({QStringLiteral("Noto Sans CJK SC")});
            cjk.setPixelSize(std::max(1, static_cast<int>(std::lround(font.pointSize))));
            const QFontMetricsF text(qtFont(font));
            const double line = std::max(text.height(), QFontMetricsF(cjk).height());
            it = cache_.emplace(Key{font}, Metrics{text, line}).first;
        }
        return it->second;
    }

    mutable std::map<Key, Metrics> cache_;
    mutable std::set<std::string> families_;
};

class QtScreens : public ScreenLocator {
public:
    std::vector<Rect> screens() const override {
        std::vector<Rect> out;
        const double bottom = primaryScreenBottom();
        const auto list = QGuiApplication::screens();
        QScreen* primary = QGuiApplication::primaryScreen();
        auto add = [&](QScreen* s) {
            const QRect g = s->geometry();
            out.push_back(Rect{{static_cast<double>(g.x()), bottom - (g.y() + g.height())},
                               {static_cast<double>(g.width()), static_cast<double>(g.height())}});
        };
        if (primary) add(primary);
        for (QScreen* s : list)
            if (s != primary) add(s);
        return out;
    }
    Point mouseLocation() const override {
        const QPoint p = QCursor::pos();
        return {static_cast<double>(p.x()), primaryScreenBottom() - p.y()};
    }
};

} // namespace

double primaryScreenBottom() {
    QScreen* primary = QGuiApplication::primaryScreen();
    if (!primary) return 0;
    const QRect g = primary->geometry();
    return g.y() + g.height();
}

plat::TextRect lineRectFromPixels(int x, int y, int width, int height) {
    return {static_cast<double>(x), primaryScreenBottom() - (y + height), static_cast<double>(width),
            static_cast<double>(height)};
}

CandidateEnvironment qtEnvironment() {
    // Kept to the end of the process: Qt objects must not go in static destruction.
    static const auto& measurer = *new std::shared_ptr<QtMeasurer>(std::make_shared<QtMeasurer>());
    static const auto& screens = *new std::shared_ptr<QtScreens>(std::make_shared<QtScreens>());
    CandidateEnvironment env;
    env.measurer = measurer;
    env.screens = screens;
    return env;
}

} // namespace taviro::qt
