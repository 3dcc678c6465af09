#pragma once

#include <QString>

namespace kavelo {

// A per-user base folder of the XDG base directory rules, without a trailing
// separator: the environment variable's value when it is an absolute path,
// otherwise the default under the home folder (a relative value is ignored,
// as the rules ask).
//   xdgBaseFolder("XDG_CONFIG_HOME", ".config")      ~/.config
//   xdgBaseFolder("XDG_DATA_HOME", ".local/share")   ~/.local/share
QString xdgBaseFolder(const char* variable, const QString& defaultUnderHome);

} // namespace kavelo
