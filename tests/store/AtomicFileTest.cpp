#include "store/AtomicFile.h"
#include "support/FileSizeLimit.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <cerrno>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <sys/stat.h>

namespace kavelo {
namespace {

// Empty when the replacement worked, else what went wrong.
std::string failureOf(const std::optional<FileReplaceFailure>& failed)
{
    return failed ? failed->description.toStdString() : std::string();
}

mode_t modeOf(const QString& file)
{
    struct stat info {};
    ::stat(QFile::encodeName(file).constData(), &info);
    return info.st_mode & 07777;
}

class AtomicFileTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    QString path(const QString& name = QStringLiteral("app.txt")) const { return dir.filePath(name); }
    void put(const QString& file, const QByteArray& bytes) const
    {
        QFile out(file);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(out.write(bytes), bytes.size());
    }
    QByteArray bytesOf(const QString& file) const
    {
        QFile in(file);
        return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray("<none>");
    }
    // Whatever lies in the folder: a failed replacement leaves no new file behind.
    QStringList folderEntries() const
    {
        return QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    }

    QTemporaryDir dir;
};

TEST_F(AtomicFileTest, ReplacesTheWholeFileWithExactlyTheBytes)
{
    EXPECT_EQ(failureOf(replaceFile(path(), QByteArray("first\r\n\0\x1a", 9))), "") << "a missing file is created";
    EXPECT_EQ(bytesOf(path()), QByteArray("first\r\n\0\x1a", 9));

    put(path(), QByteArray(5000, 'z'));
    EXPECT_EQ(failureOf(replaceFile(path(), "short")), "");
    EXPECT_EQ(bytesOf(path()), "short") << "an older, longer file leaves nothing behind";
    EXPECT_EQ(folderEntries(), QStringList{"app.txt"});
}

TEST_F(AtomicFileTest, TheReplacementKeepsTheOldFilesPermissions)
{
    put(path(), "old");
    ASSERT_EQ(::chmod(QFile::encodeName(path()).constData(), 0640), 0);
    ASSERT_EQ(failureOf(replaceFile(path(), "new")), "");
    EXPECT_EQ(bytesOf(path()), "new");
    EXPECT_EQ(modeOf(path()), 0640u);
}

TEST_F(AtomicFileTest, ALinkKeepsPointingAtTheReplacedTarget)
{
    ASSERT_TRUE(QDir(dir.path()).mkdir("real"));
    put(path("real/app.txt"), "old");
    ASSERT_TRUE(QFile::link(path("real/app.txt"), path()));
    ASSERT_EQ(failureOf(replaceFile(path(), "new")), "");
    EXPECT_TRUE(QFileInfo(path()).isSymLink());
    EXPECT_EQ(bytesOf(path("real/app.txt")), "new");
}

TEST_F(AtomicFileTest, AWriteThatFailsHalfWayLeavesTheOldFileAndSaysWhy)
{
    const QByteArray old = "the old settings, 34 bytes of them";
    put(path(), old);
    std::optional<FileReplaceFailure> failed;
    {
        const test::FileSizeLimit limit(16);
        failed = replaceFile(path(), QByteArray(104, 'n'));
    }
    ASSERT_TRUE(failed.has_value());
    EXPECT_EQ(failed->step, FileReplaceFailure::Step::Write);
    EXPECT_EQ(failed->description, QString::fromLocal8Bit(std::strerror(EFBIG)));
    EXPECT_EQ(bytesOf(path()), old);
    EXPECT_EQ(folderEntries(), QStringList{"app.txt"}) << "the half-written new file is gone";
}

TEST_F(AtomicFileTest, AFailedFirstWriteLeavesNoFileWhereThereWasNone)
{
    {
        const test::FileSizeLimit limit(0);
        ASSERT_TRUE(replaceFile(path(), "anything").has_value());
    }
    EXPECT_TRUE(folderEntries().isEmpty());
}

struct NotAFileCase {
    const char* what;
    std::function<void(const QString& path)> make;
};

class AtomicFileNotAFile : public AtomicFileTest, public ::testing::WithParamInterface<NotAFileCase> {};

TEST_P(AtomicFileNotAFile, IsNeverReplaced)
{
    GetParam().make(path());
    const QFileInfo before(path());
    const std::optional<FileReplaceFailure> failed = replaceFile(path(), "bytes");
    ASSERT_TRUE(failed.has_value()) << GetParam().what;
    EXPECT_EQ(failed->step, FileReplaceFailure::Step::Create);
    EXPECT_FALSE(failed->description.isEmpty());
    EXPECT_EQ(QFileInfo(path()).isDir(), before.isDir());
    EXPECT_FALSE(QFileInfo(path()).isFile()) << GetParam().what;
    EXPECT_EQ(folderEntries(), QStringList{"app.txt"});
}

INSTANTIATE_TEST_SUITE_P(
    Table, AtomicFileNotAFile,
    ::testing::Values(NotAFileCase{"folder", [](const QString& p) { ASSERT_TRUE(QDir().mkdir(p)); }},
                      NotAFileCase{"named pipe",
                                   [](const QString& p) { ASSERT_EQ(::mkfifo(QFile::encodeName(p).constData(), 0600), 0); }}),
    [](const auto& info) { return std::string(info.param.what) == "folder" ? "Folder" : "NamedPipe"; });

TEST_F(AtomicFileTest, AMissingFolderIsACreateFailure)
{
    const std::optional<FileReplaceFailure> failed = replaceFile(path("gone/app.txt"), "bytes");
    ASSERT_TRUE(failed.has_value());
    EXPECT_EQ(failed->step, FileReplaceFailure::Step::Create);
    EXPECT_FALSE(failed->description.isEmpty());
}

} // namespace
} // namespace kavelo
