// The in-memory INI store: reading and writing rules, case rules, files.

#include "settings/ini_store.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/test_images.h"

namespace pimo::settings {
namespace {

namespace fs = std::filesystem;

std::string FileText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteText(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

TEST(IniStoreTest, RoundTripKeepsUnknownSectionsKeysAndOrder) {
    IniStore store;
    store.SetText(
        "\xEF\xBB\xBF"
        "stray=before any section\r\n"
        "  [PIMO]  \r\n"
        "; a comment that is dropped\r\n"
        "JPEGQuality = 80\r\n"
        "\r\n"
        "  Unknown Key =  some value  \r\n"
        "a line without equals\r\n"
        "Path=C:\\x=y\r\n"
        "[Plugins]\n"
        "Zeta=1\n"
        "Alpha=2\n"
        "[pimo]\n"
        "Later=3\n");
    // Known keys are rewritten in place, new ones go to the end.
    store.WriteInteger("PIMO", "JPEGQuality", 75);
    store.WriteBool("PIMO", "GIFInterlaced", true);
    store.WriteString("Batch", "OutputPath", "/tmp/out");

    EXPECT_EQ(store.Text(),
              "[PIMO]\n"
              "JPEGQuality=75\n"
              "Unknown Key=some value\n"
              "a line without equals\n"
              "Path=C:\\x=y\n"
              "Later=3\n"
              "GIFInterlaced=1\n"
              "\n"
              "[Plugins]\n"
              "Zeta=1\n"
              "Alpha=2\n"
              "\n"
              "[Batch]\n"
              "OutputPath=/tmp/out\n"
              "\n");
    // The value is split at the first "=" only.
    EXPECT_EQ(store.ReadString("PIMO", "Path", ""), "C:\\x=y");

    // What is written reads back to the same store.
    IniStore again;
    again.SetText(store.Text());
    EXPECT_EQ(again.Text(), store.Text());
}

TEST(IniStoreTest, SectionsAndKeysMatchWithoutRegardToCase) {
    IniStore store;
    store.SetText("[Pimo]\nJpegQuality=60\n[Tools]\nfilename=a.exe\n");
    EXPECT_EQ(store.ReadInteger("PIMO", "JPEGQUALITY", 0), 60);
    EXPECT_EQ(store.ReadString("tools", "FileName", ""), "a.exe");
    EXPECT_TRUE(store.SectionExists("TOOLS"));
    EXPECT_TRUE(store.ValueExists("pimo", "jpegquality"));
    EXPECT_FALSE(store.ValueExists("pimo", "JPEGQualit"));

    // Writing under another spelling keeps the first spelling and place.
    store.WriteInteger("PIMO", "JPEGQuality", 90);
    store.WriteString("TOOLS", "FILENAME", "b.exe");
    EXPECT_EQ(store.Text(), "[Pimo]\nJpegQuality=90\n\n[Tools]\nfilename=b.exe\n\n");
    EXPECT_EQ(store.ReadSections(), (std::vector<std::string>{"Pimo", "Tools"}));
}

TEST(IniStoreTest, FirstOfRepeatedKeysIsReadAndWritten) {
    IniStore store;
    store.SetText("[A]\nk=1\nK=2\n");
    EXPECT_EQ(store.ReadInteger("a", "k", 0), 1);
    store.WriteInteger("A", "k", 5);
    EXPECT_EQ(store.Text(), "[A]\nk=5\nK=2\n\n");
    store.DeleteKey("a", "K");
    EXPECT_EQ(store.Text(), "[A]\n\n");
}

TEST(IniStoreTest, MissingOrUnparsableValuesGiveTheDefault) {
    IniStore store;
    store.SetText("[S]\nnumber=12abc\nflag=yes\nratio=1.5.2\nday=31/02/2024\nempty=\n");
    EXPECT_EQ(store.ReadInteger("S", "number", 7), 7);
    EXPECT_EQ(store.ReadInteger("S", "empty", 8), 8);
    EXPECT_EQ(store.ReadInteger("S", "missing", 9), 9);
    EXPECT_EQ(store.ReadInteger("Nope", "number", 10), 10);
    EXPECT_TRUE(store.ReadBool("S", "flag", true));
    EXPECT_FALSE(store.ReadBool("S", "flag", false));
    EXPECT_DOUBLE_EQ(store.ReadFloat("S", "ratio", 2.5), 2.5);
    EXPECT_DOUBLE_EQ(store.ReadDate("S", "day", 3.0), 3.0);
    EXPECT_EQ(store.ReadString("S", "empty", "x"), "");
    EXPECT_EQ(store.ReadString("S", "missing", "x"), "x");
}

TEST(IniStoreTest, TypedValuesAreWrittenInTheirForms) {
    IniStore store(IniLocale{",", "dd.MM.yyyy"});
    store.WriteInteger("S", "i", -42);
    store.WriteBool("S", "t", true);
    store.WriteBool("S", "f", false);
    store.WriteFloat("S", "x", 0.25);
    store.WriteDate("S", "d", 45306.75);  // 15 January 2024, 18:00
    EXPECT_EQ(store.Text(), "[S]\ni=-42\nt=1\nf=0\nx=0,25\nd=15.01.2024\n\n");
    EXPECT_EQ(store.ReadInteger("S", "i", 0), -42);
    EXPECT_TRUE(store.ReadBool("S", "t", false));
    EXPECT_DOUBLE_EQ(store.ReadFloat("S", "x", 0), 0.25);
    // Only the date part is kept.
    EXPECT_DOUBLE_EQ(store.ReadDate("S", "d", 0), 45306.0);
}

TEST(IniStoreTest, TextsTheFormatCannotHoldAreRefused) {
    IniStore store;
    EXPECT_THROW(store.WriteString("S", "Folder", "/tmp/a\nb"), IniError);
    EXPECT_THROW(store.WriteString("S", "a=b", "1"), IniError);
    EXPECT_THROW(store.WriteString("S", "", "1"), IniError);
    EXPECT_THROW(store.WriteString("S", ";key", "1"), IniError);
    EXPECT_THROW(store.WriteString("S\n", "key", "1"), IniError);
    EXPECT_THROW(store.WriteDate("S", "when", 1e12), IniError);
    // Nothing of a refused write is kept.
    EXPECT_EQ(store.Text(), "");
}

TEST(IniStoreTest, EraseSectionRemovesItAndKeepsTheOthersFindable) {
    IniStore store;
    store.SetText("[One]\na=1\n[Two]\nb=2\n[Three]\nc=3\n");
    store.EraseSection("two");
    EXPECT_EQ(store.ReadSections(), (std::vector<std::string>{"One", "Three"}));
    EXPECT_EQ(store.ReadInteger("three", "c", 0), 3);
    store.WriteInteger("Two", "b", 4);
    EXPECT_EQ(store.Text(), "[One]\na=1\n\n[Three]\nc=3\n\n[Two]\nb=4\n\n");
}

TEST(IniStoreFileTest, MissingFileGivesAnOpenEmptyStoreAndIsCreatedOnUpdate) {
    test::TempDir dir;
    const fs::path path = dir.path() / "Pimo.ini";
    IniStore store;
    store.Open(path);
    EXPECT_TRUE(store.isOpen());
    EXPECT_EQ(store.Text(), "");
    EXPECT_FALSE(fs::exists(path));
    store.WriteInteger("PIMO", "Format", 1);
    store.UpdateFile();
    EXPECT_EQ(FileText(path), "[PIMO]\nFormat=1\n\n");
    EXPECT_FALSE(fs::exists(dir.path() / "Pimo.ini.new"));
}

TEST(IniStoreFileTest, ExistingFileIsReadAndRewrittenInFull) {
    test::TempDir dir;
    const fs::path path = dir.path() / "Pimo.ini";
    WriteText(path, "[PIMO]\r\nFormat=2\r\n[Other]\r\nx=y\r\n");
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
    IniStore store;
    store.Open(path);
    EXPECT_EQ(store.ReadInteger("PIMO", "Format", 0), 2);
    store.WriteInteger("PIMO", "Format", 0);
    store.UpdateFile();
    EXPECT_EQ(FileText(path), "[PIMO]\nFormat=0\n\n[Other]\nx=y\n\n");
    // The rewritten file keeps its permissions.
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
}

TEST(IniStoreFileTest, UnreadableFileThrowsAndLeavesTheStoreClosed) {
    test::TempDir dir;
    const fs::path folder = dir.path() / "Pimo.ini";
    fs::create_directory(folder);
    IniStore store;
    try {
        store.Open(folder);
        FAIL() << "a folder opened as a file";
    } catch (const IniError& error) {
        EXPECT_NE(std::string(error.what()).find(folder.string()), std::string::npos)
            << error.what();
    }
    EXPECT_FALSE(store.isOpen());

    const fs::path large = dir.path() / "large.ini";
    WriteText(large, "[A]\n");
    fs::resize_file(large, IniStore::kMaximumFileSize + 1);
    EXPECT_THROW(store.Open(large), IniError);
    EXPECT_FALSE(store.isOpen());
}

TEST(IniStoreFileTest, StoreThatIsNotOpenWritesNothing) {
    test::TempDir dir;
    IniStore store;
    store.WriteInteger("PIMO", "Format", 1);
    store.UpdateFile();
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST(IniStoreFileTest, UpdateFailureIsReported) {
    test::TempDir dir;
    const fs::path path = dir.path() / "gone" / "Pimo.ini";
    IniStore store;
    store.Open(path);  // missing, so open and empty
    store.WriteInteger("PIMO", "Format", 1);
    EXPECT_THROW(store.UpdateFile(), IniError);
}

}  // namespace
}  // namespace pimo::settings
