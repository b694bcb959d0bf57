#include "app/core/file_util.h"

#include <sys/stat.h>

#include <algorithm>

int64_t FileSizeOf(const std::string& path) {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return static_cast<int64_t>(st.st_size);
}

std::optional<FileIdentity> IdentifyFile(const std::string& path) {
    struct stat st {};
    if (path.empty() || ::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    FileIdentity id;
    id.Device = static_cast<uint64_t>(st.st_dev);
    id.Inode = static_cast<uint64_t>(st.st_ino);
    id.Size = static_cast<int64_t>(st.st_size);
    id.ModifiedNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    return id;
}

std::string ExtractFileName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string FileNameWithoutExtension(const std::string& path) {
    const std::string name = ExtractFileName(path);
    const size_t dot = name.find_last_of('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string FileExtensionWithDot(const std::string& path) {
    const std::string name = ExtractFileName(path);
    const size_t dot = name.find_last_of('.');
    return dot == std::string::npos ? std::string() : name.substr(dot);
}

std::string LowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    return text;
}
