#include "store/AutostartStore.h"
#include "platform/Exception.h"
#include "support/FileSizeLimit.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <cerrno>
#include <cstring>

namespace kavelo {
namespace {

class AutostartStoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(config.isValid());
        previous = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    }
    void TearDown() override { qputenv("XDG_CONFIG_HOME", previous); }

    QString entryFile() const { return config.path() + QStringLiteral("/autostart/Kavelo.desktop"); }

    QTemporaryDir config;
    QByteArray previous;
};

TEST_F(AutostartStoreTest, AMissingValueReadsAsEmpty)
{
    EXPECT_EQ(AutostartStore::read(QStringLiteral("Kavelo")), QString());
    EXPECT_NO_THROW(AutostartStore::remove(QStringLiteral("Kavelo")));
}

TEST_F(AutostartStoreTest, WrittenValueIsAValidDesktopEntryAndReadsBack)
{
    const QString command = QStringLiteral("\"/home/ann/.local/share/kavelo/kavelo\" m");
    AutostartStore::write(QStringLiteral("Kavelo"), command);
    QFile file(entryFile());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString entry = QString::fromUtf8(file.readAll());
    EXPECT_TRUE(entry.startsWith(QStringLiteral("[Desktop Entry]\n")));
    EXPECT_TRUE(entry.contains(QStringLiteral("\nType=Application\n")));
    EXPECT_TRUE(entry.contains(QStringLiteral("\nExec=\"/home/ann/.local/share/kavelo/kavelo\" m\n")));
    EXPECT_EQ(AutostartStore::read(QStringLiteral("Kavelo")), command);

    AutostartStore::remove(QStringLiteral("Kavelo"));
    EXPECT_FALSE(QFile::exists(entryFile()));
    EXPECT_EQ(AutostartStore::read(QStringLiteral("Kavelo")), QString());
}

TEST_F(AutostartStoreTest, AwkwardFolderNamesSurviveTheExecQuoting)
{
    const QString command = QStringLiteral("\"/tmp/a b/$HOME/`x`/back\\slash/\u00e9/kavelo\" m");
    AutostartStore::write(QStringLiteral("Kavelo"), command);
    EXPECT_EQ(AutostartStore::read(QStringLiteral("Kavelo")), command);
    EXPECT_TRUE(AutostartStore::escapeExec(command).contains(QStringLiteral("\\\\$HOME")));
}

TEST_F(AutostartStoreTest, OnlyTheMainGroupsExecCounts)
{
    QDir().mkpath(config.path() + QStringLiteral("/autostart"));
    QFile file(entryFile());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("# comment\n[Desktop Action x]\nExec=wrong\n[Desktop Entry]\nName=Kavelo\nExec=\"/opt/k/kavelo\" m\n");
    file.close();
    EXPECT_EQ(AutostartStore::read(QStringLiteral("Kavelo")), QStringLiteral("\"/opt/k/kavelo\" m"));
}

TEST_F(AutostartStoreTest, AnUnwritableFolderRaises)
{
    QFile blocker(config.path() + QStringLiteral("/autostart"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));  // a file where the folder should be
    blocker.close();
    EXPECT_THROW(AutostartStore::write(QStringLiteral("Kavelo"), QStringLiteral("x")), Exception);
}

TEST_F(AutostartStoreTest, AWriteThatFailsHalfWayKeepsTheOldEntry)
{
    AutostartStore::write(QStringLiteral("Kavelo"), QStringLiteral("\"/opt/k/kavelo\" m"));
    QFile entry(entryFile());
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    const QByteArray old = entry.readAll();
    entry.close();
    try {
        const test::FileSizeLimit limit(40);
        AutostartStore::write(QStringLiteral("Kavelo"), QStringLiteral("\"/a/much/longer/folder/kavelo\" m"));
        FAIL() << "no error";
    } catch (const Exception& e) {
        EXPECT_TRUE(e.Message().contains(entryFile())) << e.Message().toStdString();
        EXPECT_TRUE(e.Message().contains(QString::fromLocal8Bit(std::strerror(EFBIG)))) << e.Message().toStdString();
    }
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    EXPECT_EQ(entry.readAll(), old);
    EXPECT_EQ(AutostartStore::read(QStringLiteral("Kavelo")), QStringLiteral("\"/opt/k/kavelo\" m"));
    EXPECT_EQ(QDir(config.path() + QStringLiteral("/autostart")).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("Kavelo.desktop")});
}

} // namespace
} // namespace kavelo
