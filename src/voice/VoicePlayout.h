#pragma once

#include "voice/GsmCodec.h"
#include "voice/PlayoutBuffer.h"

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace kavelo {

// The receiving end of a call's voice, from the wire to the speaker: a voice
// datagram goes in as it arrived (whole 65-byte GSM 06.10 blocks, with the
// moment it arrived), and the speaker pulls continuous 16-bit sound out of the
// playout buffer, as much as it asks for, whatever the network did.
//
// Every datagram of a call goes through one decoder, whose state runs on from
// block to block as the sender's encoder state does.
//
// Not thread-safe: the owner serialises receive, pull and reset.
class VoicePlayout {
public:
    VoicePlayout() = default;
    VoicePlayout(const VoicePlayout&) = delete;
    VoicePlayout& operator=(const VoicePlayout&) = delete;

    // One datagram's bytes, arrived at `arrivalMs` on a steady clock. Bytes
    // after the last whole block cannot be decoded and are dropped.
    void receive(std::span<const std::uint8_t> datagram, double arrivalMs);
    // Fills all of `out`: voice, concealment or comfort noise.
    void pull(std::span<std::int16_t> out);
    // Forgets what waits to be heard and how the network behaved, as at the
    // start of a call.
    void reset();

    const PlayoutBuffer& buffer() const { return *playout_; }

private:
    GsmCodec decoder_;
    std::unique_ptr<PlayoutBuffer> playout_ = std::make_unique<PlayoutBuffer>();
    std::vector<std::int16_t> decoded_;
};

} // namespace kavelo
