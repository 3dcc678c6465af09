// Stored component data: the reader must reject or apply any bytes without
// overrunning a record, whatever the blocks' length fields say.
#include "audio/GsmConverter.h"
#include "audio/AudioCapture.h"
#include "audio/AudioPlayback.h"
#include "platform/ComponentData.h"
#include "platform/Exception.h"

#include <QCoreApplication>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    static QObject owner;
    static auto* convertor = [] {
        auto* c = new kavelo::GsmConverter(&owner);
        c->setObjectName(QStringLiteral("converter"));
        auto* in = new kavelo::AudioCapture(&owner);
        in->setObjectName(QStringLiteral("capture"));
        auto* out = new kavelo::AudioPlayback(&owner);
        out->setObjectName(QStringLiteral("playback"));
        return c;
    }();
    try {
        kavelo::readComponentData(&owner, QByteArrayView(reinterpret_cast<const char*>(data),
                                                         static_cast<qsizetype>(size)));
        // What was read must write out as well-formed data again.
        const QByteArray written = kavelo::writeComponentData({convertor});
        kavelo::readComponentData(&owner, written);
    } catch (const kavelo::Exception&) {
    }
    return 0;
}
