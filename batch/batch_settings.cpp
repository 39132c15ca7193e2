#include "batch/batch_settings.h"

#include <optional>

#include "platform/known_folders.h"
#include "settings/ini_store.h"
#include "util/pimoutil.h"

namespace pimo::batch {

namespace batch_key_rules {

bool WithRotate(const BatchOptions& options, const settings::KeyValue&) {
    return options.TaskRotate;
}
bool WithFlip(const BatchOptions& options, const settings::KeyValue&) {
    return options.TaskFlip;
}
bool WithResize(const BatchOptions& options, const settings::KeyValue&) {
    return options.TaskResize;
}
bool WithCompressToSize(const BatchOptions& options, const settings::KeyValue&) {
    return options.TaskCompressToSize;
}

}  // namespace batch_key_rules

namespace {

std::optional<double> ThresholdNumber(const BatchOptions& options,
                                      std::string_view decimalSeparator) {
    return util::ParseDecimal(options.SizeThreshold, decimalSeparator,
                              util::SurroundingSpaces::Allowed);
}

}  // namespace

std::span<const BatchKey> BatchKeys() {
    return batch_key_detail::kKeys;
}

BatchOptions ReadBatchSettings(const settings::IniStore& store,
                               settings::SettingsWarnings* warnings) {
    BatchOptions options;
    settings::SettingsWarnings found;
    // No key of the section has a reaction that needs the folders.
    const platform::FixedKnownFolders none;
    for (const BatchKey& key : BatchKeys())
        settings::LoadKey(store, kBatchSection, key, options, none, found);
    if (warnings) warnings->insert(warnings->end(), found.begin(), found.end());
    return options;
}

void ApplyResampleSettings(BatchOptions& options, const engine::OptimizationSettings& settings) {
    options.ResizeFilter = settings.ResampleFilter;
    if (settings.ResampleUnit == 1) options.ResizePercent = true;
    options.ResizeKeepAspect = settings.ResampleKeepAspectRatio;
}

bool ResizeTaskKept(const BatchOptions& options) {
    return options.TaskResize && (options.ResizeWidth != 0 || options.ResizeHeight != 0) &&
           options.ResizeFilter >= 0;
}

bool CompressToSizeTaskKept(const BatchOptions& options, std::string_view decimalSeparator) {
    const std::optional<double> number = ThresholdNumber(options, decimalSeparator);
    return options.TaskCompressToSize && number && *number != 0.0;
}

void WriteBatchSettings(settings::IniStore& store, const BatchOptions& options,
                        engine::OptimizationSettings& settings) {
    BatchOptions written = options;
    written.TaskResize = ResizeTaskKept(options);
    written.TaskCompressToSize = CompressToSizeTaskKept(options, store.locale().decimalSeparator);
    for (const BatchKey& key : BatchKeys()) settings::StoreKey(store, kBatchSection, key, written);
    if (written.TaskResize) {
        settings.ResampleFilter = options.ResizeFilter;
        settings.ResampleUnit = options.ResizePercent ? 1 : 0;
        settings.ResampleKeepAspectRatio = options.ResizeKeepAspect;
    }
}

}  // namespace pimo::batch
