#pragma once

#include <QString>

namespace kavelo {

// The autostart value's name and the command it holds for a program folder:
// a double quote, the folder, "kavelo", a double quote, a blank and "m".
inline constexpr char kAutostartName[] = "Kavelo";
QString autostartCommand(const QString& programFolder);

// The program folder (ending in "/") for an autostart value: the value's folder
// part without its opening quote, or the current directory when the value is empty.
QString programFolderFrom(const QString& autostartValue);

} // namespace kavelo
