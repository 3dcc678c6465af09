#include "platform/Exception.h"
#include "store/ContactNameLookup.h"
#include "store/ContactsFile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace kavelo {
namespace {

struct LookupCase {
    const char* what;
    QByteArray file;
    QString address;
    QString displayName;
};

class ContactNameTable : public ::testing::TestWithParam<LookupCase> {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString folder() const { return dir.path() + u'/'; }

    QTemporaryDir dir;
};

TEST_P(ContactNameTable, NamesTheSender)
{
    QFile file(folder() + "contacts.vip");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(GetParam().file);
    file.close();
    EXPECT_EQ(contactDisplayName(folder(), GetParam().address), GetParam().displayName) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ContactNameTable,
    ::testing::Values(
        LookupCase{"listed", "Bob|10.0.0.2\r\nAnn|10.0.0.1\r\n", "10.0.0.1", "Ann"},
        LookupCase{"a longer address holding the sender's is not the sender", "Bob|10.0.0.12\r\n", "10.0.0.1", "10.0.0.1"},
        LookupCase{"a name holding the address is not a match", "10.0.0.1|10.0.0.7\r\n", "10.0.0.1", "10.0.0.1"},
        LookupCase{"not listed", "Ann|10.0.0.1\r\n", "10.0.0.9", "10.0.0.9"},
        LookupCase{"first match wins", "Ann|10.0.0.1\r\nAnna|10.0.0.1\r\n", "10.0.0.1", "Ann"},
        LookupCase{"first match without a name wins", "10.0.0.1\r\nAnn|10.0.0.1\r\n", "10.0.0.1", "10.0.0.1"},
        LookupCase{"empty name", "|10.0.0.1\r\nAnn|10.0.0.1\r\n", "10.0.0.1", "10.0.0.1"},
        LookupCase{"exact, no trimming", "Ann|10.0.0.1 \r\n", "10.0.0.1", "10.0.0.1"},
        LookupCase{"lines end at CR", "Bob|10.0.0.2\rAnn|10.0.0.1", "10.0.0.1", "Ann"},
        LookupCase{"nothing after byte 26", "Bob|10.0.0.2\r\n\x1a" "Ann|10.0.0.1\r\n", "10.0.0.1", "10.0.0.1"},
        LookupCase{"Windows-1252 name", "J\xf6rg|10.0.0.1\r\n", "10.0.0.1", QStringLiteral("Jörg")},
        LookupCase{"markup is just a name", "<b>x</b>|10.0.0.1", "10.0.0.1", "<b>x</b>"}));

TEST(ContactNameLookupFile, WithoutAFileTheAddressIsTheName)
{
    QTemporaryDir dir;
    EXPECT_EQ(contactDisplayName(dir.path() + u'/', "10.0.0.1"), "10.0.0.1");
    ASSERT_TRUE(QDir(dir.path()).mkdir("contacts.vip"));  // there, but cannot be opened as a file
    EXPECT_EQ(contactDisplayName(dir.path() + u'/', "10.0.0.1"), "10.0.0.1");
}

TEST(ContactNameLookupFile, AReadFailureAfterOpeningIsRaised)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QFile::link("/proc/self/mem", dir.path() + "/contacts.vip"));
    EXPECT_THROW(contactDisplayName(dir.path() + u'/', "10.0.0.1"), Exception);
}

// The names are kept between datagrams, never past a change of the file: the
// contact list replaces it whole, and anything else may rewrite it in place.
TEST(ContactNameLookupFile, AKeptLookupFollowsEveryChangeOfTheFile)
{
    QTemporaryDir dir;
    const QString folder = dir.path() + u'/';
    const QString path = contactsFilePath(folder);
    kavelo::ContactNameLookup lookup;
    EXPECT_EQ(lookup.displayName(folder, "10.0.0.1"), "10.0.0.1");

    writeContactsFile(path, {Contact{"Ann", "10.0.0.1"}});
    EXPECT_EQ(lookup.displayName(folder, "10.0.0.1"), "Ann");
    EXPECT_EQ(lookup.displayName(folder, "10.0.0.2"), "10.0.0.2");

    writeContactsFile(path, {Contact{"Bob", "10.0.0.1"}, Contact{"Cy", "10.0.0.2"}});
    EXPECT_EQ(lookup.displayName(folder, "10.0.0.1"), "Bob");
    EXPECT_EQ(lookup.displayName(folder, "10.0.0.2"), "Cy");

    {
        // Same length, written in place.
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.write("Ian") == 3);
        // On disk before the time is set: written at close, it would set the time again.
        ASSERT_TRUE(file.flush());
        // As an editor would leave it, a moment later than the last write.
        ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTime().addSecs(2), QFileDevice::FileModificationTime));
    }
    EXPECT_EQ(lookup.displayName(folder, "10.0.0.1"), "Ian");

    ASSERT_TRUE(QFile::remove(path));
    EXPECT_EQ(lookup.displayName(folder, "10.0.0.1"), "10.0.0.1");
}

} // namespace
} // namespace kavelo
