// Where the two INI files live, opening them and writing them to disk.

#include "settings/settings_files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/known_folders.h"
#include "settings/legacy_settings.h"
#include "tests/support/fake_host.h"
#include "tests/support/test_images.h"

namespace pimo::settings {
namespace {

namespace fs = std::filesystem;

constexpr const char* kOpenFailed = "An error occurred while opening the configuration files:\n";

void WriteText(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string FileText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

/// A program folder and an application-data folder inside a temporary folder.
class SettingsFilesTest : public testing::Test {
  protected:
    SettingsFilesTest() {
        fs::create_directories(programFolder());
        fs::create_directories(appData());
        folders.executable = programFolder();
        folders.localAppData = appData();
    }
    fs::path programFolder() const { return dir.path() / "program"; }
    fs::path appData() const { return dir.path() / "appdata"; }
    fs::path userFolder() const { return appData() / "Pimo"; }

    /// A file beside the program file; read-only means no write permission at all.
    void PutBesideProgram(const char* name, const std::string& text, bool readOnly) {
        const fs::path path = programFolder() / name;
        WriteText(path, text);
        if (readOnly)
            fs::permissions(path,
                            fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    }

    test::TempDir dir;
    platform::FixedKnownFolders folders;
    test::FakeHost host;
};

enum class Beside { None, Usable, ReadOnly };

struct LocationCase {
    const char* name;
    Beside settings;
    Beside tools;
    bool settingsBeside;  // expected: beside the program file, else in the user folder
    bool toolsBeside;
};

void PrintTo(const LocationCase& c, std::ostream* out) {
    *out << c.name;
}

class LocationRuleTest : public SettingsFilesTest,
                         public testing::WithParamInterface<LocationCase> {};

TEST_P(LocationRuleTest, EachFileThatIsNotUsableGoesToTheUserFolder) {
    const LocationCase& c = GetParam();
    if (c.settings != Beside::None)
        PutBesideProgram("Pimo.ini", "[PIMO]\nJPEGQuality=11\n", c.settings == Beside::ReadOnly);
    if (c.tools != Beside::None)
        PutBesideProgram("Pimo-external-tools.ini", "[Mine]\nFileName=a.exe\n",
                         c.tools == Beside::ReadOnly);

    SettingsFiles files = OpenSettingsFiles(folders, host);
    EXPECT_TRUE(host.messages.empty());
    ASSERT_TRUE(files.settings.isOpen());
    ASSERT_TRUE(files.externalTools.isOpen());
    EXPECT_EQ(files.settings.fileName(),
              (c.settingsBeside ? programFolder() : userFolder()) / "Pimo.ini");
    EXPECT_EQ(files.externalTools.fileName(),
              (c.toolsBeside ? programFolder() : userFolder()) / "Pimo-external-tools.ini");
    // The user folder is created exactly when a file goes there.
    EXPECT_EQ(fs::is_directory(userFolder()), !(c.settingsBeside && c.toolsBeside));
    // A file is read only where it is used: a read-only one is not read at all.
    EXPECT_EQ(files.settings.ReadInteger("PIMO", "JPEGQuality", 75), c.settingsBeside ? 11 : 75);
    EXPECT_EQ(files.externalTools.SectionExists("Mine"), c.toolsBeside);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LocationRuleTest,
    testing::Values(LocationCase{"BothBeside", Beside::Usable, Beside::Usable, true, true},
                    LocationCase{"OnlySettingsBeside", Beside::Usable, Beside::None, true, false},
                    LocationCase{"OnlyToolsBeside", Beside::None, Beside::Usable, false, true},
                    LocationCase{"ReadOnlySettings", Beside::ReadOnly, Beside::Usable, false, true},
                    LocationCase{"ReadOnlyTools", Beside::Usable, Beside::ReadOnly, true, false},
                    LocationCase{"NoFiles", Beside::None, Beside::None, false, false}),
    [](const testing::TestParamInfo<LocationCase>& info) { return std::string(info.param.name); });

TEST_F(SettingsFilesTest, FirstRunCreatesBothFilesInTheUserFolderOnly) {
    SettingsFiles files = OpenSettingsFiles(folders, host);
    files.settings.WriteInteger("PIMO", "Format", 1);
    files.externalTools.WriteString("Mine", "FileName", "a.exe");
    EXPECT_TRUE(FlushSettingsFiles(files).empty());
    EXPECT_EQ(FileText(userFolder() / "Pimo.ini"), "[PIMO]\nFormat=1\n\n");
    EXPECT_EQ(FileText(userFolder() / "Pimo-external-tools.ini"), "[Mine]\nFileName=a.exe\n\n");
    EXPECT_TRUE(fs::is_empty(programFolder()));
}

TEST_F(SettingsFilesTest, ReadOnlyFileBesideTheProgramIsLeftAlone) {
    PutBesideProgram("Pimo.ini", "[PIMO]\nFormat=2\n", true);
    SettingsFiles files = OpenSettingsFiles(folders, host);
    files.settings.WriteInteger("PIMO", "Format", 0);
    FlushSettingsFiles(files);
    EXPECT_EQ(FileText(programFolder() / "Pimo.ini"), "[PIMO]\nFormat=2\n");
    EXPECT_EQ(FileText(userFolder() / "Pimo.ini"), "[PIMO]\nFormat=0\n\n");
}

TEST_F(SettingsFilesTest, WithoutAnApplicationDataFolderBothFilesStayBesideTheProgram) {
    PutBesideProgram("Pimo.ini", "[PIMO]\n", true);
    folders.localAppData.reset();
    const SettingsLocations locations = LocateSettingsFiles(folders);
    EXPECT_EQ(locations.settingsFile, programFolder() / "Pimo.ini");
    EXPECT_EQ(locations.externalToolsFile, programFolder() / "Pimo-external-tools.ini");
}

TEST_F(SettingsFilesTest, SettingsFileThatCannotBeReadLeavesBothFilesClosed) {
    fs::create_directories(userFolder() / "Pimo.ini");  // exists, but cannot be read as a file
    SettingsFiles files = OpenSettingsFiles(folders, host);
    EXPECT_FALSE(files.settings.isOpen());
    EXPECT_FALSE(files.externalTools.isOpen());
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].kind, engine::MessageKind::Warning);
    EXPECT_EQ(host.messages[0].buttons, engine::MessageButtons::Ok);
    EXPECT_EQ(host.messages[0].text.rfind(kOpenFailed, 0), 0u) << host.messages[0].text;
    EXPECT_NE(host.messages[0].text.find((userFolder() / "Pimo.ini").string()), std::string::npos);

    // The program goes on with empty stores that never reach the disk.
    files.settings.WriteInteger("PIMO", "Format", 1);
    EXPECT_TRUE(FlushSettingsFiles(files).empty());
    EXPECT_TRUE(fs::is_empty(userFolder() / "Pimo.ini"));
    EXPECT_FALSE(fs::exists(userFolder() / "Pimo-external-tools.ini"));
}

TEST_F(SettingsFilesTest, ExternalToolsFileThatCannotBeReadLeavesTheSettingsOpen) {
    fs::create_directories(userFolder() / "Pimo-external-tools.ini");
    SettingsFiles files = OpenSettingsFiles(folders, host);
    EXPECT_TRUE(files.settings.isOpen());
    EXPECT_FALSE(files.externalTools.isOpen());
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text.rfind(kOpenFailed, 0), 0u);
}

TEST_F(SettingsFilesTest, UserFolderThatCannotBeCreatedIsReported) {
    fs::remove(appData());
    WriteText(appData(), "a file where the folder should be");
    SettingsFiles files = OpenSettingsFiles(folders, host);
    EXPECT_FALSE(files.settings.isOpen());
    EXPECT_FALSE(files.externalTools.isOpen());
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text.rfind(kOpenFailed, 0), 0u);
    EXPECT_NE(host.messages[0].text.find("Pimo"), std::string::npos) << host.messages[0].text;
}

TEST_F(SettingsFilesTest, FlushFailureOfOneFileStillWritesTheOther) {
    SettingsFiles files = OpenSettingsFiles(folders, host);
    files.settings.WriteInteger("PIMO", "Format", 1);
    files.externalTools.WriteString("Mine", "FileName", "a.exe");
    fs::remove_all(userFolder());
    fs::create_directories(userFolder() /
                           "Pimo.ini");  // the settings file can no longer be written
    const std::vector<std::string> failures = FlushSettingsFiles(files);
    EXPECT_EQ(failures.size(), 1u);
    EXPECT_EQ(FileText(userFolder() / "Pimo-external-tools.ini"), "[Mine]\nFileName=a.exe\n\n");
}

TEST_F(SettingsFilesTest, InstalledCopyNeverUsesFilesBesideTheProgram) {
    PutBesideProgram("Pimo.ini", "[PIMO]\nJPEGQuality=11\n", false);
    folders.besideProgramAllowed = false;
    SettingsFiles files = OpenSettingsFiles(folders, host);
    EXPECT_EQ(files.settings.fileName(), userFolder() / "Pimo.ini");
    EXPECT_EQ(files.settings.ReadInteger("PIMO", "JPEGQuality", 75), 75);
}

/// The configuration folder apart from the data folder, as on Linux; earlier
/// versions kept their files in the data folder.
class LegacySettingsTest : public SettingsFilesTest {
  protected:
    LegacySettingsTest() {
        folders.userConfig = dir.path() / "config";
        fs::create_directories(legacyFolder());
    }
    fs::path legacyFolder() const { return appData() / "Pimo"; }
    fs::path configFolder() const { return dir.path() / "config" / "Pimo"; }
};

TEST_F(LegacySettingsTest, FileInTheOldPlaceIsMovedAndReadThenTheNewPlaceOnly) {
    const std::string settingsText =
        "[PIMO]\nJPEGQuality=33\nSaveAsFolder=/srv/\xc3\xa9t\xc3\xa9\n";
    const std::string toolsText = "[Mine]\nFileName=a.exe\n";
    WriteText(legacyFolder() / "Pimo.ini", settingsText);
    WriteText(legacyFolder() / "Pimo-external-tools.ini", toolsText);

    {
        SettingsFiles files = OpenSettingsFiles(folders, host);
        EXPECT_TRUE(host.messages.empty());
        EXPECT_EQ(files.settings.fileName(), configFolder() / "Pimo.ini");
        EXPECT_EQ(files.settings.ReadInteger("PIMO", "JPEGQuality", 75), 33);
        EXPECT_TRUE(files.externalTools.SectionExists("Mine"));
    }
    // Moved byte for byte; the emptied old folder is gone.
    EXPECT_EQ(FileText(configFolder() / "Pimo.ini"), settingsText);
    EXPECT_EQ(FileText(configFolder() / "Pimo-external-tools.ini"), toolsText);
    EXPECT_FALSE(fs::exists(legacyFolder()));

    // A file that turns up in the old place later is neither read nor touched.
    fs::create_directories(legacyFolder());
    WriteText(legacyFolder() / "Pimo.ini", "[PIMO]\nJPEGQuality=44\n");
    SettingsFiles again = OpenSettingsFiles(folders, host);
    EXPECT_EQ(again.settings.fileName(), configFolder() / "Pimo.ini");
    EXPECT_EQ(again.settings.ReadInteger("PIMO", "JPEGQuality", 75), 33);
    EXPECT_EQ(FileText(legacyFolder() / "Pimo.ini"), "[PIMO]\nJPEGQuality=44\n");
}

TEST_F(LegacySettingsTest, OnlyTheFilesThatGoToTheUserFolderMove) {
    PutBesideProgram("Pimo.ini", "[PIMO]\nJPEGQuality=11\n", false);
    WriteText(legacyFolder() / "Pimo.ini", "[PIMO]\nJPEGQuality=33\n");
    WriteText(legacyFolder() / "Pimo-external-tools.ini", "[Mine]\n");
    WriteText(legacyFolder() / "notes.txt", "the user's own file");
    const SettingsLocations locations = LocateSettingsFiles(folders);
    EXPECT_EQ(locations.settingsFile, programFolder() / "Pimo.ini");
    EXPECT_EQ(locations.externalToolsFile, configFolder() / "Pimo-external-tools.ini");
    // The settings file beside the program is in use: the old one stays, as
    // does the folder with the user's other file.
    EXPECT_EQ(FileText(legacyFolder() / "Pimo.ini"), "[PIMO]\nJPEGQuality=33\n");
    EXPECT_TRUE(fs::exists(legacyFolder() / "notes.txt"));
    EXPECT_FALSE(fs::exists(legacyFolder() / "Pimo-external-tools.ini"));
}

TEST(MoveLegacySettingsFileTest, NothingToMoveOrAlreadyMoved) {
    test::TempDir dir;
    const fs::path from = dir.path() / "old" / "Pimo.ini";
    const fs::path to = dir.path() / "Pimo.ini";
    EXPECT_EQ(MoveLegacySettingsFile(from, to), to);  // no old file
    EXPECT_FALSE(fs::exists(to));
    EXPECT_EQ(MoveLegacySettingsFile({}, to), to);  // no old folder on this platform
    fs::create_directories(from.parent_path());
    WriteText(from, "old");
    EXPECT_EQ(MoveLegacySettingsFile(from, from), from);  // one folder for both
    EXPECT_EQ(FileText(from), "old");
}

#ifdef __linux__
// /dev/shm is a file system of its own on most Linux systems, so a rename
// from there fails and the file is copied over instead.
TEST(MoveLegacySettingsFileTest, MovesAcrossFileSystems) {
    std::error_code error;
    const fs::path shm = fs::path("/dev/shm") / ("pimo-legacy-" + std::to_string(::getpid()));
    if (!fs::create_directories(shm, error)) GTEST_SKIP() << "no /dev/shm";
    const std::string text = "[PIMO]\nJPEGQuality=33\n" + std::string(70000, ';') + "\n";
    WriteText(shm / "Pimo.ini", text);
    test::TempDir dir;
    const fs::path to = dir.path() / "Pimo.ini";
    EXPECT_EQ(MoveLegacySettingsFile(shm / "Pimo.ini", to), to);
    EXPECT_EQ(FileText(to), text);
    EXPECT_FALSE(fs::exists(shm));  // the file and its emptied folder are gone
    EXPECT_FALSE(fs::exists(dir.path() / "Pimo.ini.moving"));
    fs::remove_all(shm, error);
}
#endif

TEST(IsFileUsableTest, NeedsAWritableRegularFile) {
    test::TempDir dir;
    const fs::path file = dir.path() / "a.ini";
    EXPECT_FALSE(IsFileUsable(file));  // missing
    WriteText(file, "[A]\n");
    EXPECT_TRUE(IsFileUsable(file));
    EXPECT_EQ(FileText(file), "[A]\n");  // the probe changes nothing
    fs::permissions(file, fs::perms::owner_read);
    EXPECT_FALSE(IsFileUsable(file));  // read-only, even for a privileged user
    EXPECT_FALSE(IsFileUsable(dir.path()));
}

#ifdef __linux__
/// Sets an environment variable for the lifetime of the object.
class ScopedEnvironment {
  public:
    ScopedEnvironment(const char* name, const char* value) : m_name(name) {
        if (const char* old = std::getenv(name)) m_old = old;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnvironment() {
        if (m_old)
            ::setenv(m_name, m_old->c_str(), 1);
        else
            ::unsetenv(m_name);
    }

  private:
    const char* m_name;
    std::optional<std::string> m_old;
};

TEST(SystemKnownFoldersTest, UserDataFolderIsTheXdgDataHome) {
    const ScopedEnvironment home("HOME", "/home/someone");
    {
        const ScopedEnvironment dataHome("XDG_DATA_HOME", "/data/home");
        EXPECT_EQ(platform::SystemKnownFolders().localAppDataFolder(), fs::path("/data/home"));
    }
    {
        const ScopedEnvironment relative("XDG_DATA_HOME", "relative/path");
        EXPECT_EQ(platform::SystemKnownFolders().localAppDataFolder(),
                  fs::path("/home/someone/.local/share"));
    }
    const ScopedEnvironment unset("XDG_DATA_HOME", nullptr);
    EXPECT_EQ(platform::SystemKnownFolders().localAppDataFolder(),
              fs::path("/home/someone/.local/share"));
}

TEST(SystemKnownFoldersTest, PicturesFolderComesFromTheUserDirsFile) {
    test::TempDir dir;
    const ScopedEnvironment home("HOME", dir.path().c_str());
    const ScopedEnvironment config("XDG_CONFIG_HOME", nullptr);
    EXPECT_EQ(platform::SystemKnownFolders().picturesFolder(), std::nullopt);
    fs::create_directories(dir.path() / "Pictures");
    EXPECT_EQ(platform::SystemKnownFolders().picturesFolder(), dir.path() / "Pictures");
    fs::create_directories(dir.path() / ".config");
    WriteText(dir.path() / ".config" / "user-dirs.dirs",
              "# written by xdg-user-dirs-update\nXDG_PICTURES_DIR=\"$HOME/Bilder\"\n");
    EXPECT_EQ(platform::SystemKnownFolders().picturesFolder(), dir.path() / "Bilder");
}

TEST(SystemKnownFoldersTest, ConfigFolderIsTheXdgConfigHome) {
    const ScopedEnvironment home("HOME", "/home/someone");
    {
        const ScopedEnvironment configHome("XDG_CONFIG_HOME", "/etc/someone");
        EXPECT_EQ(platform::SystemKnownFolders().userConfigFolder(), fs::path("/etc/someone"));
    }
    const ScopedEnvironment relative("XDG_CONFIG_HOME", "relative/path");
    EXPECT_EQ(platform::SystemKnownFolders().userConfigFolder(), fs::path("/home/someone/.config"));
    EXPECT_EQ(platform::SystemKnownFolders().homeFolder(), fs::path("/home/someone"));
}

struct UserDirsCase {
    const char* name;
    const char* line;      // the Pictures line of user-dirs.dirs
    const char* expected;  // below the home folder; empty: the default folder is home
};

class PicturesEntryTest : public testing::TestWithParam<UserDirsCase> {};

TEST_P(PicturesEntryTest, DefaultFolderFollowsTheUserDirsEntry) {
    const UserDirsCase& c = GetParam();
    test::TempDir dir;
    const ScopedEnvironment home("HOME", dir.path().c_str());
    const ScopedEnvironment config("XDG_CONFIG_HOME", (dir.path() / "cfg").c_str());
    fs::create_directories(dir.path() / "cfg");
    WriteText(dir.path() / "cfg" / "user-dirs.dirs", std::string(c.line) + "\n");
    const fs::path expected = *c.expected ? dir.path() / c.expected : dir.path();
    EXPECT_EQ(platform::DefaultPicturesFolder(platform::SystemKnownFolders()), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PicturesEntryTest,
    testing::Values(UserDirsCase{"BelowHome", "XDG_PICTURES_DIR=\"$HOME/Bilder\"", "Bilder"},
                    UserDirsCase{"HomeItselfDisablesIt", "XDG_PICTURES_DIR=\"$HOME/\"", ""},
                    UserDirsCase{"NotAVariable", "XDG_PICTURES_DIR=\"$HOMEWORK/x\"", ""},
                    UserDirsCase{"OtherEntryOnly", "XDG_MUSIC_DIR=\"$HOME/Music\"", ""}),
    [](const testing::TestParamInfo<UserDirsCase>& info) { return std::string(info.param.name); });

TEST(BuildTreeTest, OnlyAFolderBesideTheBuildCacheCounts) {
    test::TempDir dir;
    fs::create_directories(dir.path() / "build" / "app");
    fs::create_directories(dir.path() / "usr" / "bin");
    WriteText(dir.path() / "build" / "CMakeCache.txt", "");
    EXPECT_TRUE(platform::IsInBuildTree(dir.path() / "build"));
    EXPECT_TRUE(platform::IsInBuildTree(dir.path() / "build" / "app"));
    EXPECT_FALSE(platform::IsInBuildTree(dir.path() / "usr" / "bin"));
    EXPECT_FALSE(platform::IsInBuildTree({}));
}

TEST(SystemKnownFoldersTest, ExecutableFolderHoldsTheRunningProgram) {
    const fs::path folder = platform::SystemKnownFolders().executableFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_TRUE(fs::exists(folder / "settings_test"));
}

#endif  // __linux__

}  // namespace
}  // namespace pimo::settings
