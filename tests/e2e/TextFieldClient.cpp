// A plain Qt text field for the end-to-end test: it types through whatever
// input module Qt loads (QT_IM_MODULE=ibus) and prints, on standard output,
// "TEXT <text>" when its text changes, "PREEDIT <text>" when the preedit it
// draws changes (empty: none), "CARET x y w h" (global pixels) when its
// caret moves and "FOCUS in|out" when it gains or loses the keyboard focus.
#include <QApplication>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QTimer>

#include <cstdio>

namespace {

// Every input-method event replaces the whole preedit.
class PreeditWatch : public QObject {
protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::InputMethod) {
            const auto* ime = static_cast<QInputMethodEvent*>(event);
            std::printf("PREEDIT %s\n", ime->preeditString().toUtf8().constData());
            std::fflush(stdout);
        }
        return false;
    }
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QLineEdit field;
    PreeditWatch preedit;
    field.installEventFilter(&preedit);
    field.setWindowTitle("taviro-e2e-field");
    field.setMinimumWidth(400);
    field.move(100, 100);
    field.show();
    field.activateWindow();
    field.setFocus();
    QObject::connect(&field, &QLineEdit::textChanged, [](const QString& text) {
        std::printf("TEXT %s\n", text.toUtf8().constData());
        std::fflush(stdout);
    });
    QObject::connect(&app, &QApplication::focusChanged, [&field](QWidget* old, QWidget* now) {
        if (now == &field || old == &field) {
            std::printf("FOCUS %s\n", now == &field ? "in" : "out");
            std::fflush(stdout);
        }
    });
    QRect last;
    QTimer caret;
    QObject::connect(&caret, &QTimer::timeout, [&] {
        const QRect r = field.inputMethodQuery(Qt::ImCursorRectangle).toRect();
        const QRect g(field.mapToGlobal(r.topLeft()), r.size());
        if (g == last) return;
        last = g;
        std::printf("CARET %d %d %d %d\n", g.x(), g.y(), g.width(), g.height());
        std::fflush(stdout);
    });
    caret.start(50);
    std::printf("READY\n");
    std::fflush(stdout);
    return app.exec();
}
