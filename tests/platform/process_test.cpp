// Starting programs: arguments reach them verbatim, exit codes come back, a
// program that cannot start is reported, a time-out ends the program and
// everything it started; and the private temporary folder.

#include "platform/process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <thread>

#include "tests/support/test_images.h"

namespace pimo::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string ReadText(const fs::path& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

void WriteExecutable(const fs::path& path, const std::string& text,
                     fs::perms perms = fs::perms(0755)) {
    std::ofstream(path) << text;
    fs::permissions(path, perms);
}

ProcessRequest Shell(const std::string& script, std::vector<std::string> extra = {}) {
    ProcessRequest request{"/bin/sh", "", {"-c", script, "sh"}, false};
    request.arguments.insert(request.arguments.end(), extra.begin(), extra.end());
    return request;
}

/// Whether process `pid` is gone (or only a zombie waiting for its reaper).
bool ProcessGone(const std::string& pid) {
    const std::string stat = ReadText("/proc/" + pid + "/stat");
    if (stat.empty()) return true;
    const std::size_t close = stat.rfind(')');
    return close != std::string::npos && stat.compare(close + 2, 1, "Z") == 0;
}

struct ExitCase {
    const char* script;
    int exitCode;
};

void PrintTo(const ExitCase& c, std::ostream* out) {
    *out << c.script;
}

class ExitCodeTest : public testing::TestWithParam<ExitCase> {};

TEST_P(ExitCodeTest, ExitCodeComesBack) {
    const ProcessResult result = RunProcess(Shell(GetParam().script), 10s);
    EXPECT_EQ(result.end, ProcessEnd::Exited);
    EXPECT_EQ(result.exitCode, GetParam().exitCode);
}

INSTANTIATE_TEST_SUITE_P(Codes, ExitCodeTest,
                         testing::Values(ExitCase{"exit 0", 0}, ExitCase{"exit 3", 3},
                                         ExitCase{"exit 255", 255},
                                         // Ended by a signal: no exit code to read.
                                         ExitCase{"kill -9 $$", 1}));

TEST(RunProcessTest, ArgumentsArriveVerbatimWithoutAShell) {
    test::TempDir dir;
    const fs::path out = dir.path() / "args.txt";
    const std::vector<std::string> arguments{"a b", "", "\"quoted\"", "$HOME", "*", "it's"};
    const ProcessResult result =
        RunProcess(Shell("printf '%s|' \"$@\" > '" + out.string() + "'", arguments), 10s);
    ASSERT_EQ(result.end, ProcessEnd::Exited);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(ReadText(out), "a b||\"quoted\"|$HOME|*|it's|");
}

TEST(RunProcessTest, ProgramsThatCannotStartAreReported) {
    test::TempDir dir;
    WriteExecutable(dir.path() / "not-executable", "#!/bin/sh\nexit 0\n", fs::perms(0644));
    fs::create_directory(dir.path() / "folder");
    for (const fs::path& program :
         {dir.path() / "missing", dir.path() / "not-executable", dir.path() / "folder"}) {
        SCOPED_TRACE(program);
        int started = 0;
        const ProcessResult result = RunProcess({program, "", {}, true}, 10s, [&] { ++started; });
        EXPECT_EQ(result.end, ProcessEnd::NotStarted);
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_FALSE(result.error.empty());
        EXPECT_EQ(started, 0);
    }
}

TEST(RunProcessTest, StartedRunsWhileTheProgramWaitsForIt) {
    test::TempDir dir;
    const fs::path flag = dir.path() / "flag";
    // The program ends with 7 only after it has seen the flag that `started` makes.
    const std::string script =
        "i=0; while [ ! -e '" + flag.string() +
        "' ]; do i=$((i+1)); [ $i -gt 500 ] && exit 1; sleep 0.01; done; exit 7";
    int started = 0;
    const ProcessResult result = RunProcess(Shell(script), 30s, [&] {
        ++started;
        std::ofstream(flag) << "go";
    });
    EXPECT_EQ(started, 1);
    EXPECT_EQ(result.end, ProcessEnd::Exited);
    EXPECT_EQ(result.exitCode, 7);
}

// The process whose id `pidFile` holds ends soon after `end`.
void ExpectGone(const fs::path& pidFile, const std::string& end) {
    std::string pid = ReadText(pidFile);
    while (!pid.empty() && pid.back() == '\n') pid.pop_back();
    ASSERT_FALSE(pid.empty());
    bool gone = false;
    for (int i = 0; i < 200 && !gone; ++i) {
        gone = ProcessGone(pid);
        if (!gone) std::this_thread::sleep_for(10ms);
    }
    EXPECT_TRUE(gone) << "the background child " << pid << " outlived " << end;
}

TEST(RunProcessTest, TimeOutEndsTheProgramAndWhatItStarted) {
    test::TempDir dir;
    const fs::path pidFile = dir.path() / "child.pid";
    const auto begin = std::chrono::steady_clock::now();
    const ProcessResult result =
        RunProcess(Shell("sleep 60 & echo $! > '" + pidFile.string() + "'; wait"), 300ms);
    const auto elapsed = std::chrono::steady_clock::now() - begin;
    EXPECT_EQ(result.end, ProcessEnd::TimedOut);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_GE(elapsed, 300ms);
    EXPECT_LT(elapsed, 10s);

    ExpectGone(pidFile, "the time-out");
}

TEST(RunProcessTest, AStopEndsTheProgramAndWhatItStarted) {
    test::TempDir dir;
    const fs::path pidFile = dir.path() / "child.pid";
    int asked = 0;
    // Keeps waiting until the background child is known, then stops.
    const ProcessResult result =
        RunProcess(Shell("sleep 60 & echo $! > '" + pidFile.string() + "'; wait"), 60s, {}, [&] {
            ++asked;
            return ReadText(pidFile).empty();
        });
    EXPECT_EQ(result.end, ProcessEnd::Stopped);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_GE(asked, 1);

    ExpectGone(pidFile, "the stop");
}

TEST(RunProcessTest, AProgramThatEndsIsNotStopped) {
    const ProcessResult result = RunProcess(Shell("exit 3"), 30s, {}, [] { return true; });
    EXPECT_EQ(result.end, ProcessEnd::Exited);
    EXPECT_EQ(result.exitCode, 3);
}

TEST(RunProcessTest, HiddenProgramReadsAndWritesNothingOfOurs) {
    test::TempDir dir;
    const fs::path out = dir.path() / "fds.txt";
    // Where the shell's own descriptors 0, 1 and 2 lead, noted before any redirection.
    const std::string script =
        "a=$(readlink /proc/$$/fd/0); b=$(readlink /proc/$$/fd/1); c=$(readlink /proc/$$/fd/2); "
        "printf '%s|%s|%s' \"$a\" \"$b\" \"$c\" > '" +
        out.string() + "'";
    ProcessRequest request = Shell(script);
    request.hidden = true;
    ASSERT_EQ(RunProcess(request, 10s).exitCode, 0);
    EXPECT_EQ(ReadText(out), "/dev/null|/dev/null|/dev/null");

    // Shown, the program still gets no input from us.
    request.hidden = false;
    ASSERT_EQ(RunProcess(request, 10s).exitCode, 0);
    EXPECT_EQ(ReadText(out).rfind("/dev/null|", 0), 0u);
}

TEST(RunProcessTest, OurOpenFilesAreNotInherited) {
    test::TempDir dir;
    // Opened the old way, without close-on-exec.
    const int descriptor = ::open((dir.path() / "ours").c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(descriptor, 3);
    const fs::path out = dir.path() / "fds.txt";
    const ProcessResult result = RunProcess(Shell("ls /proc/$$/fd > '" + out.string() + "'"), 10s);
    ::close(descriptor);
    ASSERT_EQ(result.exitCode, 0);
    std::istringstream listing(ReadText(out));
    std::vector<int> open;
    for (int fd; listing >> fd;) open.push_back(fd);
    // The listing itself opens its own output as a low descriptor; ours must not be there.
    EXPECT_EQ(std::count(open.begin(), open.end(), descriptor), 0);
    EXPECT_GE(open.size(), 3u);
}

TEST(FindProgramOnPathTest, FirstExecutableFileOfTheListWins) {
    test::TempDir dir;
    const fs::path a = dir.path() / "a", b = dir.path() / "b", c = dir.path() / "c";
    fs::create_directories(a / "tool");  // a folder of that name is no program
    fs::create_directory(b);
    fs::create_directory(c);
    WriteExecutable(b / "tool", "#!/bin/sh\n", fs::perms(0644));  // not executable
    WriteExecutable(c / "tool", "#!/bin/sh\n");
    const std::string list = a.string() + "::" + b.string() + ":" + c.string();

    EXPECT_EQ(FindProgramOnPath("tool", list), c / "tool");
    EXPECT_EQ(FindProgramOnPath("other", list), std::nullopt);
    EXPECT_EQ(FindProgramOnPath("tool", ""), std::nullopt);
    EXPECT_EQ(FindProgramOnPath("", list), std::nullopt);
    // A name with a path is never searched for.
    EXPECT_EQ(FindProgramOnPath("c/tool", dir.path().string()), std::nullopt);
    EXPECT_EQ(FindProgramOnPath("sh", "/usr/bin:/bin").value_or("").filename(), "sh");
}

TEST(PrivateFolderTest, TemporaryFolderIsPrivateStableAndRenewedWhenRemoved) {
    std::string error;
    const fs::path folder = PrivateTemporaryFolder(&error);
    ASSERT_FALSE(folder.empty()) << error;
    EXPECT_EQ(folder.parent_path(), fs::temp_directory_path());
    struct stat info {};
    ASSERT_EQ(::lstat(folder.c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 07777, 0700u);
    EXPECT_EQ(info.st_uid, ::getuid());
    EXPECT_EQ(PrivateTemporaryFolder(), folder);

    // Removed from outside (a temporary-folder cleaner): a fresh private one.
    fs::remove_all(folder);
    const fs::path renewed = PrivateTemporaryFolder();
    ASSERT_FALSE(renewed.empty());
    EXPECT_TRUE(fs::is_directory(renewed));
    ASSERT_EQ(::lstat(renewed.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0700u);
}

TEST(PrivateFolderTest, RemovedOnRequestWithItsContentAndMadeAfreshOnTheNextUse) {
    const fs::path folder = PrivateTemporaryFolder();
    ASSERT_FALSE(folder.empty());
    std::ofstream(folder / "work.png") << "x";
    RemovePrivateTemporaryFolder();
    EXPECT_FALSE(fs::exists(folder));
    const fs::path fresh = PrivateTemporaryFolder();
    ASSERT_FALSE(fresh.empty());
    EXPECT_NE(fresh, folder);
    EXPECT_TRUE(fs::is_directory(fresh));
}

TEST(PrivateFolderTest, EveryFolderIsNewAndAMissingParentFails) {
    test::TempDir dir;
    std::string error;
    const fs::path first = CreatePrivateFolder(dir.path(), "pimo-", error);
    const fs::path second = CreatePrivateFolder(dir.path(), "pimo-", error);
    ASSERT_FALSE(first.empty());
    ASSERT_FALSE(second.empty());
    EXPECT_NE(first, second);
    EXPECT_EQ(first.filename().string().rfind("pimo-", 0), 0u);
    EXPECT_GT(first.filename().string().size(), 5u);

    error.clear();
    EXPECT_TRUE(CreatePrivateFolder(dir.path() / "missing", "pimo-", error).empty());
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(fs::exists(dir.path() / "missing"));
}

}  // namespace
}  // namespace pimo::platform
