#pragma once

#include "platform/ResultText.h"

namespace kavelo {

// Raises E with resultMessage() unless the result is 0.
template <class E>
void checkResult(const QString& operation, MMRESULT code, std::span<const ResultText> table)
{
    if (code != MMSYSERR_NOERROR)
        throw E(resultMessage(operation, code, table));
}

// A capture or playback device's result for the named step.
template <class E>
void checkWaveResult(const char* operation, MMRESULT code)
{
    checkResult<E>(QString::fromLatin1(operation), code, waveResultTexts());
}

// Whether a device's refusal means it is gone (unplugged, its server lost or
// restarted): it will take nothing again, and only a new open finds the device
// the server offers now.
inline bool deviceIsGone(MMRESULT code)
{
    return code == MMSYSERR_BADDEVICEID || code == MMSYSERR_NODRIVER;
}

} // namespace kavelo
