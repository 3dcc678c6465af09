#pragma once

#include <QString>

namespace kavelo {

// How calls are made on this computer, kept in kavelo.ini in the program
// folder: lines of name=value, "1" or "0" for a switch.
struct CallOptions {
    // Off for those who use a headset: nothing of the speaker reaches the microphone.
    bool echoCancellation = true;
};

// A missing or unreadable file, or a line not understood, leaves the
// default in place: an option must never keep the program from calling.
CallOptions readCallOptions(const QString& path);

// Replaces the file as a whole, keeping the lines it does not know (a newer
// program's); raises Exception with the system's description when it cannot,
// leaving the old file as it was.
void writeCallOptions(const QString& path, const CallOptions& options);

} // namespace kavelo
