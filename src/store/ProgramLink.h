#pragma once

#include <QString>

namespace kavelo {

// Makes `linkPath` a symbolic link to `target` unless something usable is
// there already: a program or a link that leads somewhere is kept as it is; a
// missing entry or a link that leads nowhere is (re)made. The new link is made
// beside the old entry and renamed over it, so the path is never missing in
// between. Raises Exception when the link cannot be made.
void keepProgramLink(const QString& linkPath, const QString& target);

} // namespace kavelo
