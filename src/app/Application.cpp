#include "app/Application.h"

#include "app/MainWindow.h"
#include "desktop/TerminationSignals.h"
#include "windows/ContactListWindow.h"
#include "windows/MissedCallsWindow.h"
#include "windows/RingAlertWindow.h"
#include "windows/MessagesWindow.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>

namespace kavelo {
namespace {

bool displayAvailable()
{
    const auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value != nullptr && *value != '\0';
    };
    return set("DISPLAY") || set("WAYLAND_DISPLAY") || set("QT_QPA_PLATFORM");
}

} // namespace

int runProgram(int argc, char** argv)
{
    if (!displayAvailable()) {
        std::fprintf(stderr, "kavelo: no display found (DISPLAY is not set); "
                             "run it under a virtual display instead: xvfb-run -a %s\n",
                     argc > 0 ? argv[0] : "kavelo");
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kavelo"));
    // Side windows are hidden between showings; only closing the main window ends the program.
    QApplication::setQuitOnLastWindowClosed(false);

    const QStringList arguments = QApplication::arguments().mid(1);
    MainWindow mainWindow(arguments);
    ContactListWindow contactList(mainWindow);
    MissedCallsWindow missedCalls;
    RingAlertWindow ringAlert(mainWindow, missedCalls);
    MessagesWindow messages(mainWindow);
    mainWindow.setSideWindows(&contactList, &missedCalls, &ringAlert, &messages);

    QObject::connect(&mainWindow, &MainWindow::closed, &app, &QApplication::quit);
    // Log-out or `kill`: close as the user would, so contacts and settings are kept.
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::terminationRequested, &mainWindow, [&mainWindow] {
        if (!mainWindow.close())
            QApplication::quit();
    });
    // Any argument starts the program minimised: in the tray, or on the taskbar
    // when the desktop has no tray.
    if (arguments.isEmpty())
        mainWindow.show();
    else if (!mainWindow.hasTray())
        mainWindow.showMinimized();
    return QApplication::exec();
}

} // namespace kavelo
