// A plain Qt text field for the end-to-end test: it types through whatever
// input module Qt loads (QT_IM_MODULE=ibus) and prints, on standard output,
// "TEXT <text>" when its text changes and "CARET x y w h" (global pixels)
// when its caret moves.
#include <QApplication>
#include <QLineEdit>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QLineEdit field;
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
