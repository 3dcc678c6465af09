#pragma once

#include "platform/AudioDevice.h"

#include <QString>
#include <span>

namespace kavelo {

struct ResultText {
    MMRESULT code;
    const char* text;  // begins with a space
};

// Texts of the capture and playback devices.
std::span<const ResultText> waveResultTexts();
// Texts of the converter: eight codes only.
std::span<const ResultText> acmResultTexts();

// Message for a non-zero result: the operation name followed directly by the
// code's text, or "%s raised an unknown error (code #%d)" for a code outside the table.
QString resultMessage(const QString& operation, MMRESULT code, std::span<const ResultText> table);

} // namespace kavelo
