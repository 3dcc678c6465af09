#include "platform/Exception.h"
#include "support/FileSizeLimit.h"
#include "store/ContactsFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <cerrno>
#include <cstring>
#include <string>

namespace kavelo {

void PrintTo(const Contact& c, std::ostream* os)
{
    *os << '{' << c.name.toStdString() << '|' << c.address.toStdString() << '}';
}

namespace {

QList<Contact> readAll(const QString& path)
{
    QList<Contact> rows;
    readContactsFile(path, [&](const Contact& c) {
        rows.append(c);
        return true;
    });
    return rows;
}

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return file.readAll();
}

void putFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

class ContactsFileTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString path() const { return contactsFilePath(dir.path() + u'/'); }

    QTemporaryDir dir;
};

struct ReadingCase {
    const char* what;
    QByteArray bytes;
    QList<Contact> rows;
};

class ContactsReadingRules : public ContactsFileTest, public ::testing::WithParamInterface<ReadingCase> {};

TEST_P(ContactsReadingRules, GivesTheRowsOfTheFile)
{
    putFile(path(), GetParam().bytes);
    EXPECT_EQ(readAll(path()), GetParam().rows) << GetParam().what;
}

const Contact kEmpty{};

INSTANTIATE_TEST_SUITE_P(
    Table, ContactsReadingRules,
    ::testing::Values(
        ReadingCase{"empty file", "", {}},
        ReadingCase{"CR LF", "Ann|10.0.0.1\r\nBob|10.0.0.2\r\n", {{"Ann", "10.0.0.1"}, {"Bob", "10.0.0.2"}}},
        ReadingCase{"last line without end", "Ann|10.0.0.1\r\nBob|10.0.0.2", {{"Ann", "10.0.0.1"}, {"Bob", "10.0.0.2"}}},
        ReadingCase{"CR alone ends a line", "Ann|1\rBob|2\r", {{"Ann", "1"}, {"Bob", "2"}}},
        ReadingCase{"lone LF belongs to the line", "Ann|1\nBob|2\n", {{"Ann", "1\nBob|2\n"}}},
        ReadingCase{"only one LF after CR is skipped", "Ann|1\r\n\nBob|2", {{"Ann", "1"}, {"\nBob", "2"}}},
        ReadingCase{"empty lines are empty contacts", "\r\nAnn|1\r\n\r\n", {kEmpty, {"Ann", "1"}, kEmpty}},
        ReadingCase{"CR CR LF", "a|1\r\r\nb|2", {{"a", "1"}, kEmpty, {"b", "2"}}},
        ReadingCase{"byte 26 ends the file", "Ann|1\r\n\x1a" "Bob|2\r\n", {{"Ann", "1"}}},
        ReadingCase{"byte 26 inside a line", "Ann|1\x1a|2\r\n", {{"Ann", "1"}}},
        ReadingCase{"byte 26 first", "\x1a" "Ann|1", {}},
        ReadingCase{"no bar: all address", "10.0.0.1\r\n", {{"", "10.0.0.1"}}},
        ReadingCase{"leading bar", "|10.0.0.1", {{"", "10.0.0.1"}}},
        ReadingCase{"first bar splits", "Ann|B|10.0.0.1", {{"Ann", "B|10.0.0.1"}}},
        ReadingCase{"empty address", "Ann|\r\n", {{"Ann", ""}}},
        ReadingCase{"duplicates kept", "Ann|1\r\nAnn|2\r\n", {{"Ann", "1"}, {"Ann", "2"}}},
        ReadingCase{"Windows-1252", "J\xf6rg|1\r\n\x80\x9f|\xe9", {{QStringLiteral("Jörg"), "1"}, {QStringLiteral("€Ÿ"), QStringLiteral("é")}}}));

TEST_F(ContactsFileTest, ALineEndSplitAcrossReadsIsOneLineEnd)
{
    // The CR is the last byte of the first 4096-byte read, its LF the first of the next.
    QByteArray bytes = "Ann|" + QByteArray(4091, 'x') + "\r\nBob|2";
    ASSERT_EQ(bytes.indexOf('\r'), 4095);
    putFile(path(), bytes);
    const QList<Contact> rows = readAll(path());
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[1], (Contact{"Bob", "2"}));
}

TEST_F(ContactsFileTest, AMissingFileReadsNothingAndIsNoError)
{
    int rows = 0;
    EXPECT_FALSE(readContactsFile(path(), [&](const Contact&) {
        ++rows;
        return true;
    }));
    EXPECT_EQ(rows, 0);
}

TEST_F(ContactsFileTest, TheSinkCanStopTheReading)
{
    putFile(path(), "a|1\r\nb|2\r\nc|3\r\n");
    QStringList seen;
    readContactsFile(path(), [&](const Contact& c) {
        seen.append(c.name);
        return c.name != "b";
    });
    EXPECT_EQ(seen, (QStringList{"a", "b"}));
}

TEST_F(ContactsFileTest, WritesNameBarAddressCrLfPerRowInWindows1252)
{
    putFile(path(), QByteArray(100, 'z'));  // an older, longer file is replaced whole
    writeContactsFile(path(), {{"Ann", "10.0.0.1"}, {}, {QStringLiteral("Jörg€"), "a|b"}, {"", "10.0.0.9"}});
    EXPECT_EQ(fileBytes(path()), QByteArray("Ann|10.0.0.1\r\n|\r\nJ\xf6rg\x80|a|b\r\n|10.0.0.9\r\n"));
}

TEST_F(ContactsFileTest, RoundTripKeepsEveryRowExceptABarInAName)
{
    const QList<Contact> rows{{QStringLiteral("Zoë Ærø"), "192.168.1.5"}, {}, {"Ann", ""}, {"", "10.0.0.1"},
                              {QStringLiteral("“Bob” – ‰"), QStringLiteral("x€y")}, {"Ann", "10.0.0.2"}};
    writeContactsFile(path(), rows);
    EXPECT_EQ(readAll(path()), rows);

    // A typed "|" in a name moves the rest of the name into the address.
    writeContactsFile(path(), {{"A|B", "1"}});
    EXPECT_EQ(readAll(path()), (QList<Contact>{{"A", "B|1"}}));
}

TEST_F(ContactsFileTest, ACharacterOutsideTheCodePageIsWrittenAsQuestionMark)
{
    writeContactsFile(path(), {{QStringLiteral("Ωmega"), "1"}});
    EXPECT_EQ(fileBytes(path()), QByteArray("?mega|1\r\n"));
}

TEST_F(ContactsFileTest, AnUnopenableFileIsAnErrorWithTheSystemsDescription)
{
    ASSERT_TRUE(QDir().mkpath(path()));  // contacts.vip is a folder
    try {
        readAll(path());
        FAIL() << "no error";
    } catch (const Exception& e) {
        QFile probe(path());
        probe.open(QIODevice::ReadOnly);
        EXPECT_FALSE(probe.errorString().isEmpty());
        EXPECT_TRUE(e.Message().contains(probe.errorString())) << e.Message().toStdString();
        EXPECT_TRUE(e.Message().contains("contacts.vip")) << e.Message().toStdString();
    }
    EXPECT_THROW(writeContactsFile(path(), {{"a", "1"}}), Exception);
}

TEST_F(ContactsFileTest, AReadFailureAfterOpeningIsAnErrorWithTheSystemsDescription)
{
    // Reading a process's memory at address 0 fails with EIO once the file is open.
    ASSERT_TRUE(QFile::link("/proc/self/mem", path()));
    try {
        readAll(path());
        FAIL() << "no error";
    } catch (const Exception& e) {
        EXPECT_TRUE(e.Message().contains(QString::fromLocal8Bit(strerror(EIO)))) << e.Message().toStdString();
    }
}

TEST_F(ContactsFileTest, AWriteThatFailsHalfWayLeavesTheOldFileAndSaysWhy)
{
    const QByteArray old = "Ann|10.0.0.1\r\nBob|10.0.0.2\r\n";
    putFile(path(), old);
    const QList<Contact> many(20, Contact{"Someone with a long name", "192.168.100.200"});
    try {
        const test::FileSizeLimit limit(64);  // the new list stops a third of the way in
        writeContactsFile(path(), many);
        FAIL() << "no error";
    } catch (const Exception& e) {
        EXPECT_TRUE(e.Message().startsWith("Cannot write ")) << e.Message().toStdString();
        EXPECT_TRUE(e.Message().contains("contacts.vip")) << e.Message().toStdString();
        EXPECT_TRUE(e.Message().contains(QString::fromLocal8Bit(strerror(EFBIG)))) << e.Message().toStdString();
    }
    EXPECT_EQ(fileBytes(path()), old);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"contacts.vip"});

    writeContactsFile(path(), many);
    EXPECT_EQ(readAll(path()), many) << "once writing works again, the new list is stored";
}

struct HoldCase {
    const char* what;
    QString text;
    QStringList cannot;
};

class ContactsCharacters : public ::testing::TestWithParam<HoldCase> {};

TEST_P(ContactsCharacters, NamesWhatTheFileCannotGiveBack)
{
    EXPECT_EQ(charactersContactsCannotHold(GetParam().text), GetParam().cannot) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ContactsCharacters,
    ::testing::Values(
        HoldCase{"Windows-1252 only", QStringLiteral("J\u00f6rg \u20ac|x?"), {}},
        HoldCase{"lone LF is kept", QStringLiteral("a\nb"), {}},
        HoldCase{"outside the code page", QStringLiteral("\u03A9\u4E2D\u03A9"), {QStringLiteral("\u03A9"), QStringLiteral("\u4E2D")}},
        HoldCase{"CR ends the line", QStringLiteral("a\rb\r"), {QStringLiteral("\r")}},
        HoldCase{"byte 26 ends the file", QStringLiteral("a\x1a"), {QStringLiteral("\x1a")}},
        HoldCase{"both kinds", QStringLiteral("\u2192\r"), {QStringLiteral("\r"), QStringLiteral("\u2192")}}),
    [](const auto& info) { return "Case" + std::to_string(info.index); });

// A device whose first read delivers bytes and whose second one fails.
class FailingDevice : public QIODevice {
public:
    explicit FailingDevice(QByteArray first) : first_(std::move(first)) { open(QIODevice::ReadOnly | QIODevice::Unbuffered); }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        if (first_.isEmpty()) {
            setErrorString(QStringLiteral("Input/output error"));
            return -1;
        }
        const qint64 n = std::min<qint64>(maxSize, first_.size());
        std::memcpy(data, first_.constData(), static_cast<std::size_t>(n));
        first_.remove(0, n);
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray first_;
};

TEST(ContactsReading, RowsReadBeforeAFailureHaveReachedTheSink)
{
    FailingDevice device("Ann|1\r\nBob|2\r\nCar");
    QList<Contact> rows;
    EXPECT_THROW(readContacts(device, "contacts.vip",
                              [&](const Contact& c) {
                                  rows.append(c);
                                  return true;
                              }),
                 Exception);
    EXPECT_EQ(rows, (QList<Contact>{{"Ann", "1"}, {"Bob", "2"}}));
}

} // namespace
} // namespace kavelo
