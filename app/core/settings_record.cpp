#include "app/core/settings_record.h"

#include <unistd.h>

#include <filesystem>
#include <system_error>

std::string WithTrailingSeparator(const std::string& folder) {
    if (folder.empty() || folder.back() != '/') return folder + "/";
    return folder;
}

std::string ExecutableFolder() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec && exe.has_parent_path()) return WithTrailingSeparator(exe.parent_path().string());
    const std::filesystem::path cwd = std::filesystem::current_path(ec);
    return ec ? std::string("./") : WithTrailingSeparator(cwd.string());
}

TSettingsRecord DefaultSettings() {
    TSettingsRecord record;
    record.WorkDir = ExecutableFolder();
    return record;
}

const char* ScaleModeName(ScaleMode mode) {
    switch (mode) {
        case ScaleMode::FullSize: return "FullSize";
        case ScaleMode::HalfSize: return "HalfSize";
        case ScaleMode::QuarterSize: return "QuarterSize";
        case ScaleMode::Special: return "Special";
    }
    return "HalfSize";
}
