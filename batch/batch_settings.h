#pragma once
// The batch window's tasks and output options as one plain record, and the
// keys of section "Batch" of the settings file that remember them. The window
// binds its controls to the record; the runner reads it.

#include <string>
#include <string_view>

#include "engine/optimization_settings.h"

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

/// The record as the window is created from `store`: tasks and their
/// controls (a resize task fills the sizes, a compress-to-size task the
/// threshold, written in the store's number format), the output options.
/// Missing keys and values that do not parse give the defaults above.
BatchOptions ReadBatchSettings(const settings::IniStore& store);

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
