#include "batch/batch_settings.h"

#include <array>
#include <optional>
#include <variant>

#include "engine/compress_to_size.h"
#include "settings/ini_store.h"
#include "util/pimoutil.h"

namespace pimo::batch {

namespace {

enum class KeyType { Boolean, Integer, Float, Text };

using Field = std::variant<bool BatchOptions::*, int BatchOptions::*, std::string BatchOptions::*>;

// One key of the section. A task's own keys are tied to the task's key: read
// only when the task was read as on (`readWithTask`), written only when it is
// written as on.
struct BatchKey {
    std::string_view key;
    KeyType type;
    Field field;
    bool BatchOptions::*task = nullptr;
    bool readWithTask = false;
};

// In the order the section lists them. The threshold is a number in the file
// and the text of an edit in the window.
const std::array<BatchKey, 16> kBatchKeys{{
    {"TaskRotate", KeyType::Boolean, &BatchOptions::TaskRotate},
    {"RotateAngle", KeyType::Integer, &BatchOptions::RotateAngle, &BatchOptions::TaskRotate},
    {"RotateDirection", KeyType::Integer, &BatchOptions::RotateDirection,
     &BatchOptions::TaskRotate},
    {"TaskFlip", KeyType::Boolean, &BatchOptions::TaskFlip},
    {"FlipType", KeyType::Integer, &BatchOptions::FlipType, &BatchOptions::TaskFlip},
    {"TaskResize", KeyType::Boolean, &BatchOptions::TaskResize},
    {"ResizeWidth", KeyType::Integer, &BatchOptions::ResizeWidth, &BatchOptions::TaskResize, true},
    {"ResizeHeight", KeyType::Integer, &BatchOptions::ResizeHeight, &BatchOptions::TaskResize,
     true},
    {"TaskCompressToSize", KeyType::Boolean, &BatchOptions::TaskCompressToSize},
    {"SizeThreshold", KeyType::Float, &BatchOptions::SizeThreshold,
     &BatchOptions::TaskCompressToSize, true},
    {"OverwriteExistingFiles", KeyType::Boolean, &BatchOptions::OverwriteExistingFiles},
    {"DeleteOriginalFiles", KeyType::Boolean, &BatchOptions::DeleteOriginalFiles},
    {"KeepOriginalDateTime", KeyType::Boolean, &BatchOptions::KeepOriginalDateTime},
    {"SaveInOriginalFolder", KeyType::Boolean, &BatchOptions::SaveInOriginalFolder},
    {"BackupOnOverwrite", KeyType::Boolean, &BatchOptions::BackupOnOverwrite},
    {"OutputPath", KeyType::Text, &BatchOptions::OutputPath},
}};

std::optional<double> ThresholdNumber(const BatchOptions& options,
                                      std::string_view decimalSeparator) {
    return util::ParseDecimal(options.SizeThreshold, decimalSeparator,
                              util::SurroundingSpaces::Allowed);
}

void ReadKey(const settings::IniStore& store, const BatchKey& key, BatchOptions& options) {
    const std::string_view section = kBatchSection;
    if (auto flag = std::get_if<bool BatchOptions::*>(&key.field)) {
        options.** flag = store.ReadBool(section, key.key, options.**flag);
    } else if (auto number = std::get_if<int BatchOptions::*>(&key.field)) {
        options.** number = store.ReadInteger(section, key.key, options.**number);
    } else {
        auto text = std::get<std::string BatchOptions::*>(key.field);
        options.*text =
            key.type == KeyType::Float
                ? settings::FormatFloat(store.ReadFloat(section, key.key, 0.0), store.locale())
                : store.ReadString(section, key.key, options.*text);
    }
}

void WriteKey(settings::IniStore& store, const BatchKey& key, const BatchOptions& options) {
    const std::string_view section = kBatchSection;
    if (auto flag = std::get_if<bool BatchOptions::*>(&key.field)) {
        store.WriteBool(section, key.key, options.**flag);
    } else if (auto number = std::get_if<int BatchOptions::*>(&key.field)) {
        store.WriteInteger(section, key.key, options.**number);
    } else if (key.type == KeyType::Float) {
        store.WriteFloat(section, key.key,
                         ThresholdNumber(options, store.locale().decimalSeparator).value_or(0.0));
    } else {
        store.WriteString(section, key.key,
                          options.*std::get<std::string BatchOptions::*>(key.field));
    }
}

}  // namespace

BatchOptions ReadBatchSettings(const settings::IniStore& store) {
    BatchOptions options;
    for (const BatchKey& key : kBatchKeys) {
        if (key.readWithTask && !(options.*key.task)) continue;
        ReadKey(store, key, options);
    }
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
    for (const BatchKey& key : kBatchKeys) {
        if (key.task && !(written.*key.task)) continue;
        WriteKey(store, key, written);
    }
    if (written.TaskResize) {
        settings.ResampleFilter = options.ResizeFilter;
        settings.ResampleUnit = options.ResizePercent ? 1 : 0;
        settings.ResampleKeepAspectRatio = options.ResizeKeepAspect;
    }
}

}  // namespace pimo::batch
