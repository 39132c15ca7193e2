// The program and command line made from a preset, for both platforms'
// rules: placeholder expansion, plugins-folder paths and the extension table.

#include "optimizers/command_line.h"

#include <gtest/gtest.h>

namespace pimo::optimizers {
namespace {

using Args = std::vector<std::string>;

TEST(ExpandImagePlaceholderTest, EveryOccurrenceInAnyCaseBecomesThePathBare) {
    const std::string path = "C:\\Temp Files\\pimo-temp.png";
    struct Case {
        const char* params;
        std::string expanded;
    };
    const Case cases[] = {
        {"-o3 {IMAGE_FILE}", "-o3 " + path},
        {"-o3 {image_file}", "-o3 " + path},
        {"{Image_File} /k1", path + " /k1"},
        {"-in {IMAGE_FILE} -out {image_FILE}", "-in " + path + " -out " + path},
        {"\"{IMAGE_FILE}\"", "\"" + path + "\""},
        {"-z -4", "-z -4"},                // no placeholder: the tool is not told
        {"{IMAGE_FILE", "{IMAGE_FILE"},    // incomplete
        {"{IMAGE-FILE}", "{IMAGE-FILE}"},  // another character
        {"{{IMAGE_FILE}}", "{" + path + "}"},
        {"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.params);
        EXPECT_EQ(ExpandImagePlaceholder(c.params, path), c.expanded);
    }
    // The inserted path is not expanded again.
    EXPECT_EQ(ExpandImagePlaceholder("{IMAGE_FILE}", "/tmp/{image_file}"), "/tmp/{image_file}");
}

TEST(SplitParametersTest, BlanksSeparateAndQuotationMarksGroup) {
    struct Case {
        const char* params;
        Args arguments;
    };
    const Case cases[] = {
        {"-o3 {IMAGE_FILE}", {"-o3", "{IMAGE_FILE}"}},
        {"  -z\t -4   {IMAGE_FILE} ", {"-z", "-4", "{IMAGE_FILE}"}},
        {"\"{IMAGE_FILE}\" -q", {"{IMAGE_FILE}", "-q"}},
        {"--title='a b c' x", {"--title=a b c", "x"}},
        {"\"it's\" 'say \"hi\"'", {"it's", "say \"hi\""}},
        {"a \"\" b", {"a", "", "b"}},
        {"C:\\tools\\x \\n", {"C:\\tools\\x", "\\n"}},  // no escapes
        {"\"unterminated text", {"unterminated text"}},
        {"", {}},
        {"   ", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.params);
        EXPECT_EQ(SplitParameters(c.params), c.arguments);
    }
}

TEST(ToolPathTest, BareNamesGoToThePluginsFolderAndPathsStayAsTheyAre) {
    EXPECT_EQ(PluginsToolPath("C:\\Pimo", "optipng.exe", CommandStyle::Windows),
              "C:\\Pimo\\plugins\\optipng.exe");
    EXPECT_EQ(PluginsToolPath("C:\\Pimo\\", "optipng.exe", CommandStyle::Windows),
              "C:\\Pimo\\plugins\\optipng.exe");
    EXPECT_EQ(PluginsToolPath("/opt/pimo", "advpng.exe", CommandStyle::Posix),
              "/opt/pimo/plugins/advpng.exe");

    EXPECT_FALSE(NamesPath("optipng.exe", CommandStyle::Windows));
    EXPECT_TRUE(NamesPath("C:\\tools\\x.exe", CommandStyle::Windows));
    EXPECT_TRUE(
        NamesPath("tools\\x.exe", CommandStyle::Windows));  // relative: the current folder's
    EXPECT_FALSE(NamesPath("C:/tools/x.exe", CommandStyle::Windows));
    EXPECT_TRUE(NamesPath("/usr/bin/optipng", CommandStyle::Posix));
    EXPECT_TRUE(NamesPath("tools/x.sh", CommandStyle::Posix));
    EXPECT_FALSE(NamesPath("x.sh", CommandStyle::Posix));

    EXPECT_EQ(FileNamePart("C:\\my.tools\\tool", CommandStyle::Windows), "tool");
    EXPECT_EQ(ExtensionOf("C:\\my.tools\\tool", CommandStyle::Windows), "");
    EXPECT_EQ(ExtensionOf("C:\\tools\\a.b.BAT", CommandStyle::Windows), ".BAT");
    EXPECT_EQ(ExtensionOf("/opt/x.sh", CommandStyle::Posix), ".sh");
}

struct WindowsCase {
    const char* tool;
    bool interactive;
    std::string program;
    std::string commandLine;
};

void PrintTo(const WindowsCase& c, std::ostream* out) {
    *out << c.tool << (c.interactive ? " (interactive)" : " (hidden)");
}

class WindowsCommandTest : public testing::TestWithParam<WindowsCase> {};

TEST_P(WindowsCommandTest, ExtensionChoosesProgramAndCommandLine) {
    const WindowsCase& c = GetParam();
    const ToolCommand command =
        BuildToolCommand(c.tool, "-o3 {image_file}", "C:\\Temp Dir\\pimo-temp.png", c.interactive,
                         CommandStyle::Windows, "C:\\Windows\\system32");
    EXPECT_EQ(command.program, c.program);
    EXPECT_EQ(command.commandLine, c.commandLine);
    EXPECT_TRUE(command.arguments.empty());
}

const std::string kCmd = "C:\\Windows\\system32\\cmd.exe";
const std::string kScriptHost = "C:\\Windows\\system32\\cscript.exe";
const std::string kArgs = " -o3 C:\\Temp Dir\\pimo-temp.png";

INSTANTIATE_TEST_SUITE_P(
    Table, WindowsCommandTest,
    testing::Values(
        // A program is started itself; its command line leaves the name out.
        WindowsCase{"C:\\Pimo\\plugins\\optipng.exe", true, "C:\\Pimo\\plugins\\optipng.exe",
                    kArgs},
        WindowsCase{"C:\\Pimo\\plugins\\optipng.exe", false, "C:\\Pimo\\plugins\\optipng.exe",
                    kArgs},
        WindowsCase{"C:\\tools\\run it.bat", true, kCmd, "/C \"C:\\tools\\run it.bat\" " + kArgs},
        WindowsCase{"C:\\tools\\run.bat", false, kCmd, "/C \"C:\\tools\\run.bat\" " + kArgs},
        WindowsCase{"C:\\tools\\shrink.vbs", true, kScriptHost,
                    "//Nologo \"C:\\tools\\shrink.vbs\" " + kArgs},
        WindowsCase{"C:\\tools\\shrink.js", false, kScriptHost,
                    "//Nologo \"C:\\tools\\shrink.js\" //B " + kArgs},
        WindowsCase{"C:\\tools\\shrink.wsf", true, kScriptHost,
                    "//Nologo \"C:\\tools\\shrink.wsf\" " + kArgs},
        // The comparison is exact: capitals go to the script host.
        WindowsCase{"C:\\tools\\OPTIPNG.EXE", true, kScriptHost,
                    "//Nologo \"C:\\tools\\OPTIPNG.EXE\" " + kArgs},
        WindowsCase{"C:\\tools\\Run.Bat", false, kScriptHost,
                    "//Nologo \"C:\\tools\\Run.Bat\" //B " + kArgs},
        // No extension in the file-name part, even with a dot in a folder.
        WindowsCase{"C:\\my.tools\\tool", true, kScriptHost,
                    "//Nologo \"C:\\my.tools\\tool\" " + kArgs}));

TEST(WindowsCommandTest, EmptyParametersLeaveTheLeadingSpace) {
    const ToolCommand command =
        BuildToolCommand("C:\\p\\x.exe", "", "C:\\t.png", true, CommandStyle::Windows, "C:\\S");
    EXPECT_EQ(command.commandLine, " ");
    const ToolCommand batch =
        BuildToolCommand("C:\\p\\x.bat", "", "C:\\t.png", true, CommandStyle::Windows, "C:\\S");
    EXPECT_EQ(batch.commandLine, "/C \"C:\\p\\x.bat\"  ");
}

TEST(PosixCommandTest, ToolRunsItselfWithOneArgumentPerParameter) {
    const std::string image = "/tmp/pimo dir/pimo-temp.png";
    struct Case {
        const char* tool;
        const char* params;
        Args arguments;
    };
    const Case cases[] = {
        {"/usr/bin/optipng", "-o3 {IMAGE_FILE}", {"-o3", image}},
        {"/usr/bin/advpng", "-z -4 {image_file}", {"-z", "-4", image}},
        // A path with blanks stays one argument, quoted or not.
        {"/opt/plugins/shrink.sh",
         "\"{IMAGE_FILE}\" --out={IMAGE_FILE}",
         {image, "--out=" + image}},
        // Extensions that need an interpreter on Windows are run directly here.
        {"/opt/plugins/run.bat", "{IMAGE_FILE}", {image}},
        {"/opt/plugins/tool.vbs", "{IMAGE_FILE}", {image}},
        {"/opt/plugins/tool", "-v", {"-v"}},
        {"/opt/plugins/tool", "", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tool + std::string(" ") + c.params);
        for (const bool interactive : {true, false}) {
            const ToolCommand command =
                BuildToolCommand(c.tool, c.params, image, interactive, CommandStyle::Posix);
            EXPECT_EQ(command, (ToolCommand{c.tool, "", c.arguments}));
        }
    }
}

}  // namespace
}  // namespace pimo::optimizers
