#include "net/DatagramProtocol.h"

#include <algorithm>

namespace kavelo {
namespace {

constexpr QByteArrayView kRing = "ring";
constexpr QByteArrayView kStop = "stop";
constexpr QByteArrayView kTextMarker = "|mess";
constexpr char kTextEnd = '|';

DatagramBuffer makeSignal(QByteArrayView word)
{
    DatagramBuffer buffer{};
    std::copy(word.begin(), word.end(), buffer.begin());
    return buffer;
}

} // namespace

DatagramBuffer makeRingSignal()
{
    return makeSignal(kRing);
}

DatagramBuffer makeStopSignal()
{
    return makeSignal(kStop);
}

DatagramBuffer makeTextMessage(QByteArrayView text)
{
    DatagramBuffer buffer{};
    auto out = std::copy(kTextMarker.begin(), kTextMarker.end(), buffer.begin());
    const auto room = static_cast<qsizetype>(buffer.end() - out) - 1;  // keep room for the closing "|"
    const QByteArrayView fitting = text.first(std::min(text.size(), room));
    out = std::copy(fitting.begin(), fitting.end(), out);
    *out = kTextEnd;
    return buffer;
}

bool isRingSignal(QByteArrayView datagram)
{
    return datagram.startsWith(kRing);
}

bool isStopSignal(QByteArrayView datagram)
{
    return datagram.startsWith(kStop);
}

bool isTextMessage(QByteArrayView datagram)
{
    return datagram.startsWith(kTextMarker);
}

DatagramKind classifyDatagram(QByteArrayView datagram)
{
    if (isRingSignal(datagram))
        return DatagramKind::Ring;
    if (isStopSignal(datagram))
        return DatagramKind::Stop;
    if (isTextMessage(datagram))
        return DatagramKind::TextMessage;
    return DatagramKind::Voice;
}

QByteArray extractText(QByteArrayView datagram)
{
    if (datagram.size() <= kTextMarker.size())
        return {};
    const QByteArrayView rest = datagram.sliced(kTextMarker.size());
    const qsizetype end = rest.indexOf(kTextEnd);
    return (end < 0 ? rest : rest.first(end)).toByteArray();
}

} // namespace kavelo
