#pragma once
// Command-line options of imbrix-batch and how they become the pipeline's inputs.
#include <string>
#include <vector>

#include "app/core/settings_record.h"

struct BatchOptions {
    TSettingsRecord Settings;  // WorkDir, OutputType, JPEGQuality, Resampler, aspect, prefix, suffix
    ScaleChoice Scale;
    std::vector<std::string> Files;
    bool ShowHelp = false;
    bool ShowVersion = false;
};

// Thrown for a usage error; what() is the message.
struct UsageError {
    std::string message;
};

// Parses argv[1..]. workDirDefault is used when -o is not given.
BatchOptions ParseBatchOptions(const std::vector<std::string>& args, const std::string& workDirDefault);

extern const char* const kBatchUsage;
