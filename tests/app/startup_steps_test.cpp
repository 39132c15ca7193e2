// The start-up sequence: each step in its order, the command line's routes,
// the library check's warning and the update schedule.

#include "app/startup_steps.h"

#include <gtest/gtest.h>

#include <set>

#include "engine/imagelib/freeimage_ext.h"

namespace pimo::app {
namespace {

struct RouteCase {
    const char* name;
    std::vector<std::string> arguments;
    CommandLineRoute::Kind kind;
    std::vector<std::string> files;
};

void PrintTo(const RouteCase& c, std::ostream* os) {
    *os << c.name;
}

class CommandLineRouteTest : public testing::TestWithParam<RouteCase> {};

TEST_P(CommandLineRouteTest, SendsTheFilesWhereTheyBelong) {
    const std::set<std::string> existing{"a.jpg", "b.png"};
    const CommandLineRoute route = RouteCommandLine(
        GetParam().arguments, [&](const std::string& path) { return existing.contains(path); });
    EXPECT_EQ(route.kind, GetParam().kind);
    EXPECT_EQ(route.files, GetParam().files);
}

using Kind = CommandLineRoute::Kind;
INSTANTIATE_TEST_SUITE_P(
    Cases, CommandLineRouteTest,
    testing::Values(
        RouteCase{"NoArguments", {}, Kind::Nothing, {}},
        RouteCase{"OneFile", {"a.jpg"}, Kind::OpenFile, {"a.jpg"}},
        RouteCase{"OneMissingFile", {"gone.jpg"}, Kind::Nothing, {}},
        RouteCase{"SeveralFiles", {"a.jpg", "gone.jpg", "b.png"}, Kind::Batch, {"a.jpg", "b.png"}},
        RouteCase{"SeveralMissingFiles", {"x", "y"}, Kind::Batch, {}}));

TEST(LibraryVersionWarning, OnlyForALibraryWithoutOurTag) {
    EXPECT_FALSE(LibraryVersionWarning(imagelib::FreeImage_GetVersion()));
    const auto warning = LibraryVersionWarning("3.18.0");
    ASSERT_TRUE(warning);
    EXPECT_NE(warning->find("(3.18.0) is not fully compatible"), std::string::npos);
}

// Records the steps as the window would carry them out.
struct Recorder {
    std::vector<std::string> steps;
    StartupActions actions() {
        return {.warn = [this](const std::string&) { steps.push_back("warn"); },
                .attachLibraryCallbacks = [this] { steps.push_back("callbacks"); },
                .loadSettings = [this] { steps.push_back("settings"); },
                .openFile = [this](const std::string& path) { steps.push_back("open " + path); },
                .sendToBatch =
                    [this](const std::vector<std::string>& paths) {
                        steps.push_back("batch " + std::to_string(paths.size()));
                    },
                .startUpdateCheck = [this] { steps.push_back("update"); }};
    }
};

TEST(RunStartupSteps, RunsTheStepsInTheirOrder) {
    engine::ProgramOptions options;
    options.Check4Updates = true;
    options.LastUpdateCheck = 100;
    Recorder recorder;
    // The settings step may change the options the update step reads.
    StartupActions actions = recorder.actions();
    actions.loadSettings = [&] {
        recorder.steps.push_back("settings");
        options.LastUpdateCheck = 0;
    };
    RunStartupSteps({.libraryVersion = "old",
                     .arguments = {"a.jpg"},
                     .isFile = [](const std::string&) { return true; },
                     .options = &options,
                     .now = [] { return 110.0; }},
                    actions);
    EXPECT_EQ(recorder.steps,
              (std::vector<std::string>{"warn", "callbacks", "settings", "open a.jpg", "update"}));
}

TEST(RunStartupSteps, NoUpdateCheckWhenNotDueOrNotAllowed) {
    for (const auto& [allowed, last] : {std::pair{true, 105.0}, std::pair{false, 0.0}}) {
        engine::ProgramOptions options;
        options.Check4Updates = allowed;
        options.LastUpdateCheck = last;
        Recorder recorder;
        RunStartupSteps({.libraryVersion = imagelib::FreeImage_GetVersion(),
                         .arguments = {"a", "b"},
                         .isFile = [](const std::string&) { return true; },
                         .options = &options,
                         .now = [] { return 110.0; }},
                        recorder.actions());
        EXPECT_EQ(recorder.steps, (std::vector<std::string>{"callbacks", "settings", "batch 2"}));
    }
}

}  // namespace
}  // namespace pimo::app
