#include "app/core/tray_model.h"

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

void TrayModel::Clear() {
    // A result that was dropped back into the In tray has become a source: keep it.
    std::set<std::pair<uint64_t, uint64_t>> sources;
    for (const TrayEntry& e : in_)
        if (const std::optional<FileIdentity> id = IdentifyFile(e.Path)) sources.insert({id->Device, id->Inode});
    for (const TrayEntry& e : out_) {
        if (!e.Written) continue;
        // Only while the file is still the one we wrote: a file that replaced it is not ours.
        const std::optional<FileIdentity> now = IdentifyFile(e.Path);
        if (now && *now == *e.Written && !sources.count({now->Device, now->Inode})) std::remove(e.Path.c_str());
    }
    out_.clear();
    in_.clear();
}
