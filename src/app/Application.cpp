#include "app/Application.h"

#include "app/MainWindow.h"
#include "platform/TerminationSignals.h"
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
    MainWindow form1(arguments);
    ContactListWindow form2(form1);
    MissedCallsWindow form3;
    RingAlertWindow form4(form1, form3);
    MessagesWindow form5(form1);
    form1.setSideWindows(&form2, &form3, &form4, &form5);

    QObject::connect(&form1, &MainWindow::closed, &app, &QApplication::quit);
    // Log-out or `kill`: close as the user would, so contacts and settings are kept.
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::terminationRequested, &form1, [&form1] {
        if (!form1.close())
            QApplication::quit();
    });
    // Any argument starts the program minimised: in the tray, or on the taskbar
    // when the desktop has no tray.
    if (arguments.isEmpty())
        form1.show();
    else if (!form1.hasTray())
        form1.showMinimized();
    return QApplication::exec();
}

} // namespace kavelo
