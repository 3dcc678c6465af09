#include "app/Project1.h"

#include "app/Unit1.h"

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
    TForm1 form1;
    form1.show();
    return QApplication::exec();
}

} // namespace kavelo
