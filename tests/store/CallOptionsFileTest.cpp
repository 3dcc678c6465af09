#include "store/CallOptionsFile.h"

#include "platform/Exception.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace kavelo {
namespace {

class CallOptionsFileTest : public ::testing::Test {
protected:
    QString path() const { return folder.filePath(QStringLiteral("kavelo.ini")); }
    void write(const QByteArray& bytes) const
    {
        QFile file(path());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    QByteArray read() const
    {
        QFile file(path());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    QTemporaryDir folder;
};

TEST_F(CallOptionsFileTest, WhatIsReadFromEachKindOfFile)
{
    const struct {
        const char* what;
        QByteArray bytes;
        bool echoCancellation;
    } cases[] = {
        {"switched off", "EchoCancellation=0\n", false},
        {"switched on", "EchoCancellation=1\n", true},
        {"spaces and CR LF", "  EchoCancellation = 0 \r\n", false},
        {"last line wins", "EchoCancellation=0\nEchoCancellation=1\n", true},
        {"a value not understood", "EchoCancellation=off\n", true},
        {"another name only", "EchoCancellationX=0\nOther=0\n", true},
        {"no equals sign", "EchoCancellation\n", true},
        {"binary junk", QByteArray("\0\xff=\n=0\n", 7), true},
        {"empty", "", true},
    };
    for (const auto& c : cases) {
        write(c.bytes);
        EXPECT_EQ(readCallOptions(path()).echoCancellation, c.echoCancellation) << c.what;
    }
    QFile::remove(path());
    EXPECT_TRUE(readCallOptions(path()).echoCancellation) << "no file: on";
}

TEST_F(CallOptionsFileTest, AWriteReplacesTheOptionAndKeepsLinesItDoesNotKnow)
{
    write("Future=7\nEchoCancellation=1\n");
    writeCallOptions(path(), CallOptions{.echoCancellation = false});
    EXPECT_EQ(read(), QByteArray("Future=7\nEchoCancellation=0\n"));
    EXPECT_FALSE(readCallOptions(path()).echoCancellation);
}

TEST_F(CallOptionsFileTest, AFolderThatCannotBeWrittenRaisesAndKeepsTheOldFile)
{
    write("EchoCancellation=1\n");
    const QString missing = folder.filePath(QStringLiteral("gone/kavelo.ini"));
    EXPECT_THROW(writeCallOptions(missing, CallOptions{.echoCancellation = false}), Exception);
    EXPECT_EQ(read(), QByteArray("EchoCancellation=1\n"));
}

} // namespace
} // namespace kavelo
