#pragma once

#include <QString>

namespace kavelo {

// Whether a text is acceptable as a peer address: digits and dots only, exactly
// three dots, a first group of at most 224. The groups after the first are not
// examined. A first group that is empty or too large for an integer raises
// Exception "'<group>' is not a valid integer value".
bool checkip(const QString& text);

} // namespace kavelo
