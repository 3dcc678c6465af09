#pragma once

#include <array>
#include <cstdint>
#include <cstring>

namespace kavelo {

// The 129-byte wave format record, little-endian: the 18-byte extended wave
// format header (tag, channels, samples/s, average bytes/s, block alignment,
// bits per sample, extra-byte count), then room for 111 extra bytes. Components
// copy all 129 bytes, whatever the extra-byte count says.
struct WaveFormat {
    static constexpr std::size_t kSize = 129;
    std::array<std::uint8_t, kSize> bytes{};

    std::uint16_t formatTag() const { return u16(0); }
    std::uint16_t channels() const { return u16(2); }
    std::uint32_t samplesPerSec() const { return u32(4); }
    std::uint32_t avgBytesPerSec() const { return u32(8); }
    std::uint16_t blockAlign() const { return u16(12); }
    std::uint16_t bitsPerSample() const { return u16(14); }
    std::uint16_t extraSize() const { return u16(16); }

    void setFormatTag(std::uint16_t v) { setU16(0, v); }
    void setChannels(std::uint16_t v) { setU16(2, v); }
    void setSamplesPerSec(std::uint32_t v) { setU32(4, v); }
    void setAvgBytesPerSec(std::uint32_t v) { setU32(8, v); }
    void setBlockAlign(std::uint16_t v) { setU16(12, v); }
    void setBitsPerSample(std::uint16_t v) { setU16(14, v); }
    void setExtraSize(std::uint16_t v) { setU16(16, v); }
    // The first extra byte pair: samples per block for GSM 6.10.
    std::uint16_t extraU16(std::size_t index) const { return u16(18 + 2 * index); }
    void setExtraU16(std::size_t index, std::uint16_t v) { setU16(18 + 2 * index, v); }

    friend bool operator==(const WaveFormat&, const WaveFormat&) = default;

private:
    std::uint16_t u16(std::size_t at) const
    {
        return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
    }
    std::uint32_t u32(std::size_t at) const
    {
        return static_cast<std::uint32_t>(u16(at)) | (static_cast<std::uint32_t>(u16(at + 2)) << 16);
    }
    void setU16(std::size_t at, std::uint16_t v)
    {
        bytes[at] = static_cast<std::uint8_t>(v & 0xFF);
        bytes[at + 1] = static_cast<std::uint8_t>(v >> 8);
    }
    void setU32(std::size_t at, std::uint32_t v)
    {
        setU16(at, static_cast<std::uint16_t>(v & 0xFFFF));
        setU16(at + 2, static_cast<std::uint16_t>(v >> 16));
    }
};

inline constexpr std::uint16_t kWaveFormatPcm = 1;
inline constexpr std::uint16_t kWaveFormatGsm610 = 0x31;

} // namespace kavelo
