#pragma once

#include <QString>
#include <optional>

namespace kavelo {

// A Kavelo installed as a system program (the package): its executable in
// <prefix>/bin and its shared data, the ring sound, in <prefix>/share/kavelo.
// Such a program keeps each user's files in a per-user program folder; one run
// from its build folder or from a per-user install keeps them beside itself.
struct InstalledLayout {
    QString executable;  // <prefix>/bin/kavelo
    QString dataFolder;  // <prefix>/share/kavelo/, ending in a separator
};

// The layout around an executable that lies in `applicationDir`: there is one
// when that folder is named "bin" and its sibling "share" holds a "kavelo"
// folder. A build folder never looks like that.
std::optional<InstalledLayout> installedLayoutAround(const QString& applicationDir);
// The same for the running program, whose folder Qt finds with links resolved
// (so a program started through a link in the per-user folder is still the installed one).
std::optional<InstalledLayout> installedLayoutOfThisProgram();

// The per-user program folder of an installed Kavelo, ending in a separator:
// $XDG_DATA_HOME/kavelo/, by default ~/.local/share/kavelo/.
QString perUserProgramFolder();

} // namespace kavelo
