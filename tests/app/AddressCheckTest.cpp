#include "app/AddressCheck.h"
#include "app/ProgramFolder.h"
#include "platform/Exception.h"

#include <QDir>
#include <gtest/gtest.h>

namespace kavelo {
namespace {

struct AddressCase {
    const char* text;
    bool accepted;
};

class AddressCheck : public ::testing::TestWithParam<AddressCase> {};

TEST_P(AddressCheck, AcceptsOrRejects)
{
    EXPECT_EQ(checkip(QString::fromLatin1(GetParam().text)), GetParam().accepted) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Addresses, AddressCheck,
                         ::testing::Values(AddressCase{"192.168.1.5", true}, AddressCase{"224.1.1.1", true},
                                           AddressCase{"225.1.1.1", false}, AddressCase{"1.2.3.4567", true},
                                           AddressCase{"10.0.0.999", true}, AddressCase{"10...", true},
                                           AddressCase{"0.0.0.0", true}, AddressCase{"10.0.0", false},
                                           AddressCase{"10.0.0.1.", false}, AddressCase{"", false},
                                           AddressCase{"10.0.0.x", false}, AddressCase{" 10.0.0.1", false},
                                           AddressCase{"-1.0.0.1", false}, AddressCase{"0224.0.0.1", true},
                                           AddressCase{"2147483647.0.0.1", false},
                                           AddressCase{"12345678901.a.0", false}));

TEST(AddressCheckErrors, AFirstGroupThatIsNoIntegerRaisesTheConversionError)
{
    for (const char* text : {"12345678901.0.0.1", "2147483648.1.1.1", "...1", "99999999999999999999999.1.1.1"}) {
        const QString address = QString::fromLatin1(text);
        const QString group = address.left(address.indexOf(QLatin1Char('.')));
        try {
            checkip(address);
            ADD_FAILURE() << "accepted " << text;
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), QStringLiteral("'%1' is not a valid integer value").arg(group));
        }
    }
}

TEST(ProgramFolder, ComesFromTheAutostartCommandOrTheCurrentDirectory)
{
    EXPECT_EQ(programFolderFrom(QStringLiteral("\"/home/ann/.local/share/kavelo/kavelo\" m")),
              QStringLiteral("/home/ann/.local/share/kavelo/"));
    EXPECT_EQ(programFolderFrom(autostartCommand(QStringLiteral("/opt/a b/"))), QStringLiteral("/opt/a b/"));
    EXPECT_EQ(programFolderFrom(QString()), QDir::currentPath() + QLatin1Char('/'));
    EXPECT_EQ(autostartCommand(QStringLiteral("/opt/k/")), QStringLiteral("\"/opt/k/kavelo\" m"));
}

} // namespace
} // namespace kavelo
