#pragma once
// File system helpers of the trays and the pipeline.
#include <cstdint>
#include <optional>
#include <string>

// Size of a file in bytes, or -1 when there is no such file (or it is not a regular file).
int64_t FileSizeOf(const std::string& path);

// What identifies a file we wrote, so that clearing the trays deletes it only while it is still
// that file (not a file someone put under the same name later).
struct FileIdentity {
    uint64_t Device = 0;
    uint64_t Inode = 0;
    int64_t Size = 0;
    int64_t ModifiedNs = 0;
    bool operator==(const FileIdentity&) const = default;
};
std::optional<FileIdentity> IdentifyFile(const std::string& path);

// The file name part of a path: the text after the last "/".
std::string ExtractFileName(const std::string& path);
// The file name without its last extension (the dot included).
std::string FileNameWithoutExtension(const std::string& path);
// The extension of the file name with its dot and in its own letter case; "" when none.
std::string FileExtensionWithDot(const std::string& path);
// ASCII lower case.
std::string LowerCase(std::string text);
