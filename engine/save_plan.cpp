#include "engine/save_plan.h"

#include <filesystem>

#include "util/pimoutil.h"

namespace pimo::engine {

namespace {

namespace fs = std::filesystem;

using util::PathFromUtf8;
using util::PathToUtf8;

bool HasExtension(const std::string& path) {
    return !PathFromUtf8(path).extension().empty();
}

// A relative name is taken in `folder`; an absolute one stays as it is.
std::string InFolder(const std::string& folder, const std::string& name) {
    const fs::path file = PathFromUtf8(name);
    return file.is_absolute() ? name : PathToUtf8(PathFromUtf8(folder) / file);
}

}  // namespace

SaveFormat SaveFormatFor(int format) {
    switch (format) {
        case kFormatPng:
            return {"Portable Network Graphic (*.png)", ".png"};
        case kFormatGif:
            return {"Graphics Interchange Format (*.gif)", ".gif"};
        default:
            return {"JPEG Image (*.jpg *.jif *.jpeg *.jpe)", ".jpg"};
    }
}

bool AsksForHigherPngCompression(const OptimizationSettings& settings) {
    return settings.Format == kFormatPng &&
           settings.PNGCompressionType < kRecommendedPngCompression;
}

SavePlan PlanSave(const SaveRequest& request,
                  const std::function<bool(const std::string&)>& exists) {
    SavePlan plan;
    plan.format = SaveFormatFor(request.format);
    // The source's own path when the format stays, else its name alone.
    plan.name = request.sourceFormat == request.format
                    ? request.sourcePath
                    : PathToUtf8(PathFromUtf8(request.sourcePath).stem());
    if (!HasExtension(plan.name)) plan.name += plan.format.defaultExtension;
    plan.replaceQuestion = "Replace " + plan.name + " ?";
    const fs::path sourceFolder = fs::absolute(PathFromUtf8(request.sourcePath)).parent_path();
    if (request.saveAs) {
        plan.caption = "Save as";
        // Without a remembered folder the dialog starts beside the source.
        const std::string folder =
            request.saveAsFolder.empty() ? PathToUtf8(sourceFolder) : request.saveAsFolder;
        plan.dialogStart = InFolder(folder, plan.name);
        return plan;
    }
    plan.caption = "Save";
    plan.besideSource = InFolder(PathToUtf8(sourceFolder), plan.name);
    plan.offerReplace = !request.showDialogOnSave && exists(plan.besideSource);
    plan.dialogStart = plan.besideSource;
    return plan;
}

std::string CompletedSaveTarget(const std::string& chosen, const SaveFormat& format) {
    if (chosen.empty() || HasExtension(chosen)) return chosen;
    return chosen + format.defaultExtension;
}

std::string SaveAsFolderAfter(const std::string& target) {
    fs::path folder = fs::absolute(PathFromUtf8(target)).parent_path();
    return PathToUtf8(folder.make_preferred()) + static_cast<char>(fs::path::preferred_separator);
}

}  // namespace pimo::engine
