#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <array>
#include <cstddef>

namespace kavelo {

// Every datagram leaves from port 5551 towards the peer's port 5552.
inline constexpr int kSendPort = 5551;
inline constexpr int kReceivePort = 5552;

// Ring, stop and text datagrams are built in this buffer and always sent whole;
// 390 bytes are also one voice datagram: six 65-byte GSM blocks.
inline constexpr std::size_t kDatagramSize = 390;
using DatagramBuffer = std::array<char, kDatagramSize>;

// The messages window's edit line holds at most this many characters.
inline constexpr int kMaxTextLength = 200;

enum class DatagramKind { Ring, Stop, TextMessage, Voice };

// Bytes that carry nothing are zero.
DatagramBuffer makeRingSignal();
DatagramBuffer makeStopSignal();

// "|mess", the text's bytes, "|". Text longer than the buffer can hold is cut.
DatagramBuffer makeTextMessage(QByteArrayView text);

// First test that holds: "ring", "stop", "|mess", else voice (an empty datagram too).
DatagramKind classifyDatagram(QByteArrayView datagram);

bool isRingSignal(QByteArrayView datagram);
bool isStopSignal(QByteArrayView datagram);
bool isTextMessage(QByteArrayView datagram);

// The bytes from offset 5 up to the first "|" at offset 5 or later, or to the end.
QByteArray extractText(QByteArrayView datagram);

} // namespace kavelo
