#pragma once

#include "audio/GsmConverter.h"
#include "platform/WaveFormat.h"

namespace kavelo::test {

// The call's source: 8000 Hz 8-bit mono PCM, four extra bytes that carry nothing.
inline WaveFormat callPcmFormat()
{
    WaveFormat f;
    f.setFormatTag(kWaveFormatPcm);
    f.setChannels(1);
    f.setSamplesPerSec(8000);
    f.setAvgBytesPerSec(8000);
    f.setBlockAlign(1);
    f.setBitsPerSample(8);
    f.setExtraSize(4);
    return f;
}

// The call's destination: GSM 06.10 in 65-byte blocks of 320 samples.
inline WaveFormat callGsmFormat()
{
    WaveFormat f;
    f.setFormatTag(kWaveFormatGsm610);
    f.setChannels(1);
    f.setSamplesPerSec(8000);
    f.setAvgBytesPerSec(1625);
    f.setBlockAlign(65);
    f.setBitsPerSample(0);
    f.setExtraSize(2);
    f.setExtraU16(0, 320);
    return f;
}

inline void setCallFormats(GsmConverter& convertor)
{
    convertor.ACMFormatIn() = callPcmFormat();
    convertor.ACMFormatOut() = callGsmFormat();
}

} // namespace kavelo::test
