#pragma once
// The batch window's tasks and output options as one plain record, and the
// keys of section "Batch" of the settings file that remember them, declared
// once each like the keys of section "PIMO". The window binds its controls to
// the record; the runner reads it.

#include <span>
#include <string>
#include <string_view>

#include "engine/optimization_settings.h"
#include "settings/key_table.h"

namespace pimo::settings {
class IniStore;
}

namespace pimo::batch {

inline constexpr std::string_view kBatchSection = "Batch";

/// Every field starts at the value the window shows before any key is read.
/// Persisted fields bear their key's name.
struct BatchOptions {
    // Tasks; a task is on while its panel is visible.
    bool TaskRotate = false;
    int RotateAngle = 0;      // item of rotate_angle: 0 90 degrees, 1 180, 2 270
    int RotateDirection = 0;  // item of rotate_direction: 0 counter-clockwise, 1 clockwise
    bool TaskFlip = false;
    int FlipType = 0;  // item of flip_type: 0 vertical, 1 horizontal
    bool TaskResize = false;
    int ResizeWidth = 0;  // resize_w; 0 is an empty edit
    int ResizeHeight = 0;
    bool ResizePercent = false;    // the unit: pixels or percent (resize_opt_percent)
    bool ResizeKeepAspect = true;  // keep_aspect
    int ResizeFilter = 1;  // item of filter, -1 none selected (order of the resample filters)
    bool TaskCompressToSize = false;
    std::string SizeThreshold;  // text of compress2size_value, in KiB

    // Output options (items 0 to 4 of the check list, then the folder).
    bool OverwriteExistingFiles = false;
    bool DeleteOriginalFiles = false;
    bool KeepOriginalDateTime = false;
    bool SaveInOriginalFolder = false;
    bool BackupOnOverwrite = true;
    std::string OutputPath;

    bool operator==(const BatchOptions&) const = default;
};

using BatchKey = settings::Key<BatchOptions>;

namespace batch_key_rules {
// A task's own keys are written only when the task is written as on; the
// sizes and the threshold are also read only when their task is read as on.
bool WithRotate(const BatchOptions&, const settings::KeyValue&);
bool WithFlip(const BatchOptions&, const settings::KeyValue&);
bool WithResize(const BatchOptions&, const settings::KeyValue&);
bool WithCompressToSize(const BatchOptions&, const settings::KeyValue&);
}  // namespace batch_key_rules

namespace batch_key_detail {

using settings::Clamp;
using B = settings::Bindings<BatchOptions>;
using O = BatchOptions;
using namespace batch_key_rules;

// The keys of section "Batch", in the order the section lists them. The
// threshold is a number in the file and the text of an edit in the window.
// clang-format off
inline constexpr BatchKey kKeys[] = {
    {.key = "TaskRotate", .field = B::Boolean<&O::TaskRotate>()},
    {.key = "RotateAngle", .field = B::Integer<&O::RotateAngle>(), .range = Clamp(0, 2),
     .writeIf = WithRotate},
    {.key = "RotateDirection", .field = B::Integer<&O::RotateDirection>(), .range = Clamp(0, 1),
     .writeIf = WithRotate},
    {.key = "TaskFlip", .field = B::Boolean<&O::TaskFlip>()},
    {.key = "FlipType", .field = B::Integer<&O::FlipType>(), .range = Clamp(0, 1), .writeIf = WithFlip},
    {.key = "TaskResize", .field = B::Boolean<&O::TaskResize>()},
    {.key = "ResizeWidth", .field = B::Integer<&O::ResizeWidth>(), .range = Clamp(0, 65535),
     .readIf = WithResize, .writeIf = WithResize},
    {.key = "ResizeHeight", .field = B::Integer<&O::ResizeHeight>(), .range = Clamp(0, 65535),
     .readIf = WithResize, .writeIf = WithResize},
    {.key = "TaskCompressToSize", .field = B::Boolean<&O::TaskCompressToSize>()},
    // In KiB; up to about a terabyte.
    {.key = "SizeThreshold", .field = B::Float<&O::SizeThreshold>(), .range = Clamp(0, 1e9),
     .fixedDefault = 0.0, .readIf = WithCompressToSize, .writeIf = WithCompressToSize},
    {.key = "OverwriteExistingFiles", .field = B::Boolean<&O::OverwriteExistingFiles>()},
    {.key = "DeleteOriginalFiles", .field = B::Boolean<&O::DeleteOriginalFiles>()},
    {.key = "KeepOriginalDateTime", .field = B::Boolean<&O::KeepOriginalDateTime>()},
    {.key = "SaveInOriginalFolder", .field = B::Boolean<&O::SaveInOriginalFolder>()},
    {.key = "BackupOnOverwrite", .field = B::Boolean<&O::BackupOnOverwrite>()},
    {.key = "OutputPath", .field = B::Text<&O::OutputPath>()},
};
// clang-format on

}  // namespace batch_key_detail

/// The keys of section "Batch" in their order.
std::span<const BatchKey> BatchKeys();

/// The range declared for the key `name` of section "Batch"; a misspelt name
/// stops the build.
consteval settings::KeyRange BatchKeyRange(std::string_view name) {
    return settings::RangeIn(batch_key_detail::kKeys, name);
}

/// The record as the window is created from `store`: tasks and their
/// controls (a resize task fills the sizes, a compress-to-size task the
/// threshold, written in the store's number format), the output options.
/// Missing keys give the defaults above; a value that does not parse gives
/// the default and one out of range is clamped, each adding a warning to
/// `warnings` when given.
BatchOptions ReadBatchSettings(const settings::IniStore& store,
                               settings::SettingsWarnings* warnings = nullptr);

/// What the window takes from the main window's resample settings each time
/// it is shown: the filter, percent when the unit is percent (pixels leave
/// the unit as it is), and keep aspect.
void ApplyResampleSettings(BatchOptions& options, const engine::OptimizationSettings& settings);

/// Whether closing writes the resize task as on: its panel is visible, a
/// size is given and a filter is selected.
bool ResizeTaskKept(const BatchOptions& options);
/// Whether closing writes the compress-to-size task as on: its panel is
/// visible and its text reads, with `decimalSeparator`, as a non-zero number.
bool CompressToSizeTaskKept(const BatchOptions& options, std::string_view decimalSeparator);

/// Writes the keys as the window closes, into the store in memory. A task's
/// own keys are written only when the task is written as on. A kept resize
/// task also becomes the main window's resample choice (filter, unit, keep
/// aspect) in `settings`. Throws settings::IniError for a text the file
/// cannot hold.
void WriteBatchSettings(settings::IniStore& store, const BatchOptions& options,
                        engine::OptimizationSettings& settings);

}  // namespace pimo::batch
