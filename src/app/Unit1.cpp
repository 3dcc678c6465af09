#include "app/Unit1.h"

namespace kavelo {

TForm1::TForm1(QWidget* parent) : QWidget(parent)
{
    setWindowTitle(QStringLiteral("Silent"));
    setAccessibleName(QStringLiteral("Kavelo main window"));
    setStyleSheet(QStringLiteral("background-color: black;"));
    setFixedSize(320, 160);
}

} // namespace kavelo
