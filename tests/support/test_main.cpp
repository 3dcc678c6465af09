#include "platform/Guarded.h"
#include "platform/MessageBox.h"

#include <QApplication>
#include <gtest/gtest.h>

// Every test program runs with a QApplication on the offscreen platform unless
// the environment picks another one.
int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kavelo"));
    // A test that expects an error box catches it; any other one is a failure,
    // never a modal box that would hang the run.
    kavelo::setErrorReporter([](const QString& message) {
        ADD_FAILURE() << "unexpected error box: " << message.toStdString();
    });
    kavelo::setMessageShower([](const QString& text) {
        ADD_FAILURE() << "unexpected message box: " << text.toStdString();
    });
    return RUN_ALL_TESTS();
}
