#include "app/startup_steps.h"

#include "engine/imagelib/freeimage_ext.h"
#include "update/update_check.h"

namespace pimo::app {

std::optional<std::string> LibraryVersionWarning(const std::string& versionText) {
    if (versionText.find(imagelib::kLibraryVersionTag) != std::string::npos) return std::nullopt;
    return "The current version of the FreeImage library used (" + versionText +
           ") is not fully compatible with this version of PIMO.\nSome features may not work "
           "properly.\n\nPlease use the FreeImage.dll that came with this version of PIMO.";
}

CommandLineRoute RouteCommandLine(const std::vector<std::string>& arguments,
                                  const std::function<bool(const std::string&)>& isFile) {
    CommandLineRoute route;
    if (arguments.size() == 1) {
        if (isFile(arguments.front())) {
            route.kind = CommandLineRoute::Kind::OpenFile;
            route.files = arguments;
        }
        return route;
    }
    if (arguments.size() < 2) return route;
    route.kind = CommandLineRoute::Kind::Batch;
    for (const std::string& argument : arguments)
        if (isFile(argument)) route.files.push_back(argument);
    return route;
}

void RunStartupSteps(const StartupFacts& facts, const StartupActions& actions) {
    if (const auto warning = LibraryVersionWarning(facts.libraryVersion)) actions.warn(*warning);
    actions.attachLibraryCallbacks();
    actions.loadSettings();

    const CommandLineRoute route = RouteCommandLine(facts.arguments, facts.isFile);
    switch (route.kind) {
        case CommandLineRoute::Kind::OpenFile:
            actions.openFile(route.files.front());
            break;
        case CommandLineRoute::Kind::Batch:
            actions.sendToBatch(route.files);
            break;
        case CommandLineRoute::Kind::Nothing:
            break;
    }

    // Read after the settings: the stored choice and the stored date decide.
    if (facts.updateCheckAvailable &&
        update::AutomaticUpdateCheckDue(facts.options->Check4Updates,
                                        facts.options->LastUpdateCheck, facts.now())) {
        actions.startUpdateCheck();
    }
}

}  // namespace pimo::app
