// The start-up and memory anchor for the program: a bare Qt Widgets program that
// shows one window and waits, nothing else. scripts/bench.sh starts it beside
// Kavelo on the same display and compares the time to the window being mapped
// and the resident memory once both sit idle.
//
//   bench_bare_window [--quit-after-ms N]
#include <QApplication>
#include <QLabel>
#include <QTimer>
#include <QWidget>

#include <cstring>
#include <cstdlib>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Bare window"));
    window.resize(400, 300);
    QLabel label(QStringLiteral("Bare Qt Widgets window"), &window);
    label.move(20, 20);
    window.show();
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--quit-after-ms") == 0)
            QTimer::singleShot(std::atoi(argv[i + 1]), &app, &QApplication::quit);
    return app.exec();
}
