#pragma once

#include <QString>

namespace kavelo {

// The per-user autostart list: each value is a desktop entry
// $XDG_CONFIG_HOME/autostart/<name>.desktop (default ~/.config/autostart) whose
// Exec= line holds the value's command text.
class AutostartStore {
public:
    // The folder the entries live in.
    static QString directory();

    // The command text of the value, or an empty text when there is none.
    static QString read(const QString& name);

    // Writes (or replaces) the value as a whole; raises Exception when the entry
    // cannot be written, leaving the old entry as it was.
    static void write(const QString& name, const QString& command);

    // Removes the value; a missing value is not an error. Raises Exception on failure.
    static void remove(const QString& name);

    // Exec= quoting both ways: the command text is kept exactly across a write and a read.
    static QString escapeExec(const QString& command);
    static QString unescapeExec(const QString& value);
};

} // namespace kavelo
