#include "app/InstalledLayout.h"
#include "app/ProgramFolder.h"
#include "app/ProgramSettings.h"
#include "platform/Exception.h"
#include "store/AutostartStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <optional>

namespace kavelo {
namespace {

// Sets an environment variable (or removes it, for nullptr) for the lifetime of the object.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const QString* value)
        : name_(name), had_(qEnvironmentVariableIsSet(name)), previous_(qgetenv(name))
    {
        if (value != nullptr)
            qputenv(name_, value->toLocal8Bit());
        else
            qunsetenv(name_);
    }
    ~ScopedVariable()
    {
        if (had_)
            qputenv(name_, previous_);
        else
            qunsetenv(name_);
    }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    const char* name_;
    bool had_;
    QByteArray previous_;
};

// A machine in a temporary folder: a system install (usr/bin/kavelo and
// usr/share/kavelo/Phone.wav), a home, a current directory, and the paths a
// program may run from. HOME and XDG_CONFIG_HOME point into it; XDG_DATA_HOME
// is each case's to set.
class InstalledProgram : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(root.isValid());
        for (const char* folder : {"usr/bin", "usr/share/kavelo", "home", "cwd", "build/default", "dev/bin",
                                   "home/.local/share/kavelo", "opt/k"})
            ASSERT_TRUE(QDir(root.path()).mkpath(QString::fromLatin1(folder)));
        writeFile("usr/bin/kavelo", "the installed program");
        writeFile("usr/share/kavelo/Phone.wav", "the installed ring");
        previousDirectory = QDir::currentPath();
        QDir::setCurrent(path("cwd"));
    }

    void TearDown() override { QDir::setCurrent(previousDirectory); }

    QString path(const QString& relative) const { return root.filePath(relative); }
    QString path(const char* relative) const { return path(QString::fromLatin1(relative)); }

    void writeFile(const char* relative, const QByteArray& bytes) const
    {
        QFile file(path(relative));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    // The settings of a program whose executable lies in `runsFrom`.
    ProgramSettings settingsRunningFrom(const char* runsFrom) const
    {
        return ProgramSettings(installedLayoutAround(path(runsFrom)));
    }

    QTemporaryDir root;
    QString home = path("home");
    QString config = path("config");
    ScopedVariable homeVariable{"HOME", &home};
    ScopedVariable configVariable{"XDG_CONFIG_HOME", &config};
    QString previousDirectory;
};

struct FolderCase {
    const char* name;
    const char* what;
    const char* runsFrom;
    const char* dataHome;         // XDG_DATA_HOME under the machine's root; nullptr: unset
    const char* autostartFolder;  // the folder an autostart value names; nullptr: no value
    const char* expectedFolder;   // under the machine's root
};

class ProgramFolderChoice : public InstalledProgram, public ::testing::WithParamInterface<FolderCase> {};

TEST_P(ProgramFolderChoice, FollowsHowTheProgramWasInstalled)
{
    const FolderCase& c = GetParam();
    const std::optional<QString> dataHome =
        c.dataHome == nullptr ? std::nullopt
                              : std::optional(QString::fromLatin1(c.dataHome).startsWith(QLatin1Char('/'))
                                                  ? path(QString::fromLatin1(c.dataHome).mid(1))
                                                  : QString::fromLatin1(c.dataHome));
    ScopedVariable dataVariable("XDG_DATA_HOME", dataHome ? &*dataHome : nullptr);
    if (c.autostartFolder != nullptr)
        AutostartStore::write(QStringLiteral("Kavelo"), autostartCommand(path(c.autostartFolder) + QLatin1Char('/')));

    ProgramSettings settings = settingsRunningFrom(c.runsFrom);
    EXPECT_EQ(settings.readAutostart(), c.autostartFolder != nullptr) << c.what;
    const QString expected = path(c.expectedFolder) + QLatin1Char('/');
    EXPECT_EQ(settings.programFolder(), expected) << c.what;
    EXPECT_TRUE(QFileInfo(expected).isDir()) << c.what << ": the program folder was not made";
}

INSTANTIATE_TEST_SUITE_P(
    Installs, ProgramFolderChoice,
    ::testing::Values(
        FolderCase{"InstalledWithDataHome", "installed, XDG_DATA_HOME set", "usr/bin", "/data", nullptr,
                   "data/kavelo"},
        FolderCase{"InstalledWithoutDataHome", "installed, XDG_DATA_HOME unset", "usr/bin", nullptr, nullptr,
                   "home/.local/share/kavelo"},
        FolderCase{"InstalledWithRelativeDataHome", "installed, XDG_DATA_HOME relative (ignored)", "usr/bin", "data",
                   nullptr, "home/.local/share/kavelo"},
        FolderCase{"InstalledStartedByAutostart", "installed, started by its autostart value", "usr/bin", "/data",
                   "opt/k", "opt/k"},
        FolderCase{"BuildFolder", "run from its build folder", "build/default", "/data", nullptr, "cwd"},
        FolderCase{"PerUserInstall", "installed per user into its program folder", "home/.local/share/kavelo",
                   "/data", nullptr, "cwd"},
        FolderCase{"BinFolderWithoutData", "a bin folder without kavelo data beside it", "dev/bin", "/data", nullptr,
                   "cwd"},
        FolderCase{"BuildFolderStartedByAutostart", "build folder, started by its autostart value", "build/default",
                   nullptr, "build/default", "build/default"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(InstalledProgram, RingsWithTheFoldersOwnSoundOrTheInstalledOne)
{
    ScopedVariable dataVariable("XDG_DATA_HOME", nullptr);
    ProgramSettings installed = settingsRunningFrom("usr/bin");
    installed.readAutostart();
    EXPECT_EQ(installed.ringSoundPath(), path("usr/share/kavelo/Phone.wav"));
    writeFile("home/.local/share/kavelo/Phone.wav", "the user's own ring");
    EXPECT_EQ(installed.ringSoundPath(), path("home/.local/share/kavelo/Phone.wav"));

    // Not installed: the folder's, even when there is none (ringing says so).
    ProgramSettings built = settingsRunningFrom("build/default");
    built.readAutostart();
    EXPECT_EQ(built.ringSoundPath(), path("cwd/Phone.wav"));
}

TEST_F(InstalledProgram, AutostartOfAnInstalledProgramStartsItThroughALinkInItsFolder)
{
    ScopedVariable dataVariable("XDG_DATA_HOME", nullptr);
    ProgramSettings settings = settingsRunningFrom("usr/bin");
    settings.readAutostart();
    settings.save(true, nullptr);

    const QString folder = path("home/.local/share/kavelo/");
    const QString command = AutostartStore::read(QStringLiteral("Kavelo"));
    EXPECT_EQ(command, QStringLiteral("\"%1kavelo\" m").arg(folder));
    EXPECT_EQ(programFolderFrom(command), folder);
    const QFileInfo link(folder + QStringLiteral("kavelo"));
    ASSERT_TRUE(link.isSymLink());
    EXPECT_EQ(link.symLinkTarget(), path("usr/bin/kavelo"));

    // Started through the link, the program reads the same folder back.
    ProgramSettings next = settingsRunningFrom("usr/bin");
    EXPECT_TRUE(next.readAutostart());
    EXPECT_EQ(next.programFolder(), folder);
}

TEST_F(InstalledProgram, AProgramInTheFolderIsKeptAndALinkToNowhereMadeAgain)
{
    ScopedVariable dataVariable("XDG_DATA_HOME", nullptr);
    const QString linkPath = path("home/.local/share/kavelo/kavelo");
    ProgramSettings settings = settingsRunningFrom("usr/bin");
    settings.readAutostart();

    writeFile("home/.local/share/kavelo/kavelo", "a per-user install's own program");
    settings.save(true, nullptr);
    EXPECT_FALSE(QFileInfo(linkPath).isSymLink());
    QFile kept(linkPath);
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), QByteArray("a per-user install's own program"));
    kept.close();

    ASSERT_TRUE(QFile::remove(linkPath));
    ASSERT_TRUE(QFile::link(path("gone/kavelo"), linkPath));
    settings.save(true, nullptr);
    EXPECT_EQ(QFileInfo(linkPath).symLinkTarget(), path("usr/bin/kavelo"));
    EXPECT_EQ(QDir(path("home/.local/share/kavelo")).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                                               QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("kavelo")});
}

TEST_F(InstalledProgram, NoLinkWithoutAutostartOrForAProgramRunFromItsBuildFolder)
{
    ScopedVariable dataVariable("XDG_DATA_HOME", nullptr);
    ProgramSettings installed = settingsRunningFrom("usr/bin");
    installed.readAutostart();
    installed.save(false, nullptr);
    EXPECT_FALSE(QFileInfo(path("home/.local/share/kavelo/kavelo")).isSymLink());

    ProgramSettings built = settingsRunningFrom("build/default");
    built.readAutostart();
    built.save(true, nullptr);
    EXPECT_FALSE(QFileInfo(path("cwd/kavelo")).isSymLink());
    EXPECT_EQ(AutostartStore::read(QStringLiteral("Kavelo")), autostartCommand(path("cwd/")));
}

TEST_F(InstalledProgram, ALinkThatCannotBeMadeFailsTheSaveAndWritesNoAutostartValue)
{
    // An autostart value naming a folder that is gone: the link has nowhere to go.
    AutostartStore::write(QStringLiteral("Kavelo"), autostartCommand(path("gone/")));
    ProgramSettings settings = settingsRunningFrom("usr/bin");
    ASSERT_TRUE(settings.readAutostart());
    // Taken away again, to see that the failed save writes none.
    ASSERT_TRUE(QFile::remove(AutostartStore::directory() + QStringLiteral("/Kavelo.desktop")));
    EXPECT_THROW(settings.save(true, nullptr), Exception);
    EXPECT_TRUE(AutostartStore::read(QStringLiteral("Kavelo")).isEmpty());
    EXPECT_FALSE(QFileInfo(path("gone")).exists());
}

} // namespace
} // namespace kavelo
