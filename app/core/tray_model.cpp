#include "app/core/tray_model.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <charconv>
#include <cmath>
#include <cstddef>
#include <set>
#include <system_error>
#include <utility>

#include "app/core/file_util.h"

std::string FormatNumber1(double value, const NumberSeparators& sep) {
    // to_chars ignores the C locale, which the window sets to the user's: printf would put a
    // decimal comma where the digits are split below.
    char buffer[400];
    const std::to_chars_result written =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 1);
    std::string digits(buffer, written.ec == std::errc() ? written.ptr : buffer);
    std::string sign;
    if (!digits.empty() && digits[0] == '-') {
        sign = "-";
        digits.erase(0, 1);
    }
    const size_t dot = digits.find('.');
    std::string whole = digits.substr(0, dot);
    const std::string fraction = dot == std::string::npos ? "0" : digits.substr(dot + 1);
    std::string grouped;
    for (size_t i = 0; i < whole.size(); ++i) {
        if (i > 0 && (whole.size() - i) % 3 == 0) grouped += sep.Thousands;
        grouped += whole[i];
    }
    return sign + grouped + sep.Decimal + fraction;
}

std::string FormatKilobytes(int64_t bytes, const NumberSeparators& sep) {
    return FormatNumber1(static_cast<double>(bytes) / 1024.0, sep) + "K";
}

std::string MakeInfoTip(const std::string& path, const TpicData& data, const NumberSeparators& sep) {
    return path + "\nWidth: " + std::to_string(data.Width) + "\nHeight: " + std::to_string(data.Height) +
           "\nFilesize: " + FormatKilobytes(FileSizeOf(path), sep);
}

std::vector<std::string> TrayModel::Paths(TTray tray) const {
    std::vector<std::string> paths;
    for (const TrayEntry& e : Entries(tray)) paths.push_back(e.Path);
    return paths;
}

size_t TrayModel::Add(TTray tray, std::string path, TpicData data, TBitmap thumbnail) {
    std::vector<TrayEntry>& list = Entries(tray);
    list.push_back(TrayEntry{std::move(path), data, std::move(thumbnail), std::nullopt, {}, {}});
    return list.size() - 1;
}

std::vector<std::string> TrayModel::WrittenResults(const std::vector<size_t>& rows) const {
    std::vector<std::string> paths;
    for (size_t row : rows)
        if (row < out_.size() && out_[row].Written) paths.push_back(out_[row].Path);
    return paths;
}

void TrayModel::MarkWritten(const std::string& path, const FileIdentity& identity) {
    // The newest entry of that path: a name is reused only after its file disappeared.
    for (auto it = out_.rbegin(); it != out_.rend(); ++it)
        if (it->Path == path) {
            it->Written = identity;
            return;
        }
}

void TrayModel::MarkNotConverted(const std::string& path, const std::string& reason) {
    for (auto it = in_.rbegin(); it != in_.rend(); ++it)
        if (it->Path == path) {
            it->NotConverted = reason;
            return;
        }
}

void TrayModel::SetNote(const std::string& path, const std::string& note) {
    for (auto it = out_.rbegin(); it != out_.rend(); ++it)
        if (it->Path == path) {
            it->Note = note;
            return;
        }
}

long TrayModel::RemoveLast(TTray tray, const std::string& path) {
    std::vector<TrayEntry>& list = Entries(tray);
    for (size_t i = list.size(); i-- > 0;)
        if (list[i].Path == path) {
            list.erase(list.begin() + static_cast<std::ptrdiff_t>(i));
            return static_cast<long>(i);
        }
    return -1;
}

std::string TrayModel::SummaryLine(TTray tray, const NumberSeparators& sep) const {
    const std::vector<TrayEntry>& list = Entries(tray);
    if (list.empty()) return {};
    int64_t total = 0;
    for (const TrayEntry& e : list) {
        const int64_t size = FileSizeOf(e.Path);
        if (size > 0) total += size;
    }
    return std::to_string(list.size()) + " files, total size: " + FormatKilobytes(total, sep);
}

std::string TrayModel::InfoTip(TTray tray, size_t index, const NumberSeparators& sep) const {
    const std::vector<TrayEntry>& list = Entries(tray);
    if (index >= list.size()) return {};
    std::string tip = MakeInfoTip(list[index].Path, list[index].Data, sep);
    if (!list[index].NotConverted.empty()) tip += "\nNot converted: " + list[index].NotConverted;
    if (!list[index].Note.empty()) tip += "\n" + list[index].Note;
    return tip;
}

namespace {
using FileKey = std::pair<uint64_t, uint64_t>;

// A result that was dropped back into the In tray has become a source: it is kept.
std::set<FileKey> SourceFiles(const std::vector<TrayEntry>& in) {
    std::set<FileKey> sources;
    for (const TrayEntry& e : in)
        if (const std::optional<FileIdentity> id = IdentifyFile(e.Path)) sources.insert({id->Device, id->Inode});
    return sources;
}

// Whether the entry's path is still the very file we wrote (a file that replaced it is not ours).
bool StillOurs(const TrayEntry& e) {
    if (!e.Written) return false;
    const std::optional<FileIdentity> now = IdentifyFile(e.Path);
    return now && *now == *e.Written;
}

void DeleteIfOurs(const TrayEntry& e, const std::set<FileKey>& sources) {
    if (StillOurs(e) && !sources.count({e.Written->Device, e.Written->Inode})) std::remove(e.Path.c_str());
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// rename(2) that never replaces an existing name: renameat2 where the file system has it,
// else a hard link and unlink (atomic too); false with errno set when neither works.
bool RenameNoReplace(const std::string& from, const std::string& to) {
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return false;
#endif
    if (::link(from.c_str(), to.c_str()) != 0) return false;
    if (::unlink(from.c_str()) != 0) {
        const int error = errno;
        ::unlink(to.c_str());
        errno = error;
        return false;
    }
    return true;
}
}  // namespace

std::vector<size_t> TrayModel::Remove(TTray tray, std::vector<size_t> rows) {
    std::vector<TrayEntry>& list = Entries(tray);
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    while (!rows.empty() && rows.back() >= list.size()) rows.pop_back();
    std::reverse(rows.begin(), rows.end());
    if (tray == TTray::Out) {
        const std::set<FileKey> sources = SourceFiles(in_);
        for (size_t row : rows) DeleteIfOurs(list[row], sources);
    }
    for (size_t row : rows) list.erase(list.begin() + static_cast<std::ptrdiff_t>(row));
    return rows;
}

std::string TrayModel::RenameResult(size_t row, const std::string& newName) {
    if (row >= out_.size()) return "There is no such result.";
    TrayEntry& e = out_[row];
    const std::string oldName = ExtractFileName(e.Path);
    if (newName == oldName) return {};
    if (newName.empty()) return "A file name cannot be empty.";
    if (newName.find('/') != std::string::npos) return "A file name cannot contain \"/\".";
    if (newName.find('\0') != std::string::npos || newName == "." || newName == "..")
        return Quoted(newName) + " is not a valid file name.";
    if (!StillOurs(e)) return "The result file " + Quoted(oldName) + " is no longer the one Imbrix wrote.";
    const std::string target = e.Path.substr(0, e.Path.size() - oldName.size()) + newName;
    struct stat st {};
    if (::lstat(target.c_str(), &st) == 0)
        return "A file named " + Quoted(newName) + " already exists in the working folder.";
    if (!RenameNoReplace(e.Path, target)) {
        if (errno == EEXIST) return "A file named " + Quoted(newName) + " already exists in the working folder.";
        return "Couldn't rename " + Quoted(oldName) + " to " + Quoted(newName) + ": " + std::strerror(errno);
    }
    e.Path = target;
    // A rename keeps the inode; what the file is now is what later deletions compare with.
    if (const std::optional<FileIdentity> now = IdentifyFile(target)) e.Written = now;
    return {};
}

void TrayModel::Clear() {
    const std::set<FileKey> sources = SourceFiles(in_);
    for (const TrayEntry& e : out_) DeleteIfOurs(e, sources);
    out_.clear();
    in_.clear();
}
