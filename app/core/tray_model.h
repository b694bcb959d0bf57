#pragma once
// The two tray path lists with what belongs to each entry, and the texts the trays show.
#include <optional>
#include <string>
#include <vector>

#include "app/core/file_util.h"
#include "app/core/pic_data.h"
#include "graphics/bitmap.h"

enum class TTray { In, Out };

struct TrayEntry {
    std::string Path;
    TpicData Data;
    TBitmap Thumbnail;  // 64 x 48, 24 bits
    // Out entries only: the file as we wrote it. Empty while it is not written (or never was,
    // as after "Unknown output file type"); such an entry's path is never deleted.
    std::optional<FileIdentity> Written;
    // In entries only: why the file was not converted ("" when it was, or is being).
    std::string NotConverted;
    // Out entries only: what the tip adds about how the result was written (a size limit).
    std::string Note;
};

// Separators for the "%.1n" number format; the window passes the locale's.
struct NumberSeparators {
    std::string Thousands = ",";
    std::string Decimal = ".";
};

// value with one decimal, thousands grouped: 1234.56 -> "1,234.6".
std::string FormatNumber1(double value, const NumberSeparators& sep = {});
// bytes / 1024 in that format followed by "K".
std::string FormatKilobytes(int64_t bytes, const NumberSeparators& sep = {});

// Hover text: the path, "Width: w", "Height: h", "Filesize: nK", joined by line feeds.
std::string MakeInfoTip(const std::string& path, const TpicData& data, const NumberSeparators& sep = {});

class TrayModel {
public:
    const std::vector<TrayEntry>& Entries(TTray tray) const { return tray == TTray::In ? in_ : out_; }
    std::vector<TrayEntry>& Entries(TTray tray) { return tray == TTray::In ? in_ : out_; }
    size_t Count(TTray tray) const { return Entries(tray).size(); }
    // Paths of a tray, in item order (a copy: a batch may walk it while the trays change).
    std::vector<std::string> Paths(TTray tray) const;

    // Appends an entry; returns its index.
    size_t Add(TTray tray, std::string path, TpicData data, TBitmap thumbnail);
    // The paths of these Out rows (ascending) whose files have been written. During a batch an
    // entry exists, with an empty file, before its picture is written; a drag must not hand
    // that over, nor the name of a result that was never written.
    std::vector<std::string> WrittenResults(const std::vector<size_t>& rows) const;
    // Records that the Out entry with this path was written and is this file now.
    void MarkWritten(const std::string& path, const FileIdentity& identity);
    // Marks the newest In entry of this path as not converted, for this reason.
    void MarkNotConverted(const std::string& path, const std::string& reason);
    // Sets the tip's note of the newest Out entry of this path.
    void SetNote(const std::string& path, const std::string& note);
    // Removes the newest entry of this path from a tray (no file is touched); returns its
    // index, or -1 when there is none.
    long RemoveLast(TTray tray, const std::string& path);

    // Removes these rows of a tray (any order; rows outside the tray are ignored). For the Out
    // tray each entry's file is deleted by the rule of Clear: only while it is still the file
    // we wrote and not listed in the In tray as a source. Returns the removed rows, highest
    // first, the order in which a view drops its items.
    std::vector<size_t> Remove(TTray tray, std::vector<size_t> rows);

    // Renames the result file of an Out row to newName in the same folder and keeps the entry
    // on it. Returns "" on success (also when the name is unchanged), else why not; the file
    // and the entry then stay as they were. Refused: an empty name, ".", "..", a name with
    // "/", a name a file (or link) in the folder already has, an entry not written yet or
    // whose file is no longer the one we wrote.
    std::string RenameResult(size_t row, const std::string& newName);

    // "%d files, total size: %.1nK", or "" for an empty tray. Totals are 64-bit.
    std::string SummaryLine(TTray tray, const NumberSeparators& sep = {}) const;
    std::string InfoTip(TTray tray, size_t index, const NumberSeparators& sep = {}) const;

    // Empties both trays. Deletes each Out entry's file, first to last, but only while it is
    // still the file that was written (a failed deletion is ignored); never touches a source,
    // also not a result that is listed in the In tray as well.
    void Clear();

private:
    std::vector<TrayEntry> in_;
    std::vector<TrayEntry> out_;
};
