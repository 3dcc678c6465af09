// Stored component data: the reader must reject or apply any bytes without
// overrunning a record, whatever the blocks' length fields say.
#include "audio/ACMConvertor.h"
#include "audio/ACMIn.h"
#include "audio/ACMOut.h"
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
        auto* c = new kavelo::TACMConvertor(&owner);
        c->setObjectName(QStringLiteral("ACMConvertor1"));
        auto* in = new kavelo::TACMIn(&owner);
        in->setObjectName(QStringLiteral("ACMIn1"));
        auto* out = new kavelo::TACMOut(&owner);
        out->setObjectName(QStringLiteral("ACMOut1"));
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
