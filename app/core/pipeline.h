#pragma once
// The picture pipeline: a list of paths in, resized and turned result files out. It is plain
// C++ and talks to whoever runs it (the main window, imbrix-batch, a test) through
// PipelineHost.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/core/file_util.h"
#include "app/core/jpeg_size_limit.h"
#include "app/core/pic_data.h"
#include "app/core/settings_record.h"
#include "app/core/thumbnail.h"
#include "app/core/tray_model.h"
#include "graphics/bitmap.h"
#include "graphics/errors.h"

class TGraphic;
class TStream;

// Texts of the boxes the pipeline words itself.
inline constexpr const char* kSpecialSizeMessage =
    "If the \"Special\" size option is selected, you need to enter a value greater than zero for the "
    "Width, the Height, or both.";
inline constexpr const char* kCouldNotLoadMessage = "Couldn't load file: ";            // + path
inline constexpr const char* kNameConflictMessage = "Couldn't add file because of name conflict";
inline constexpr const char* kUnknownOutputTypeMessage = "Unknown output file type for file:";  // + path
inline constexpr int kMaxNameSuffix = 9999;
// Reasons the In tray's tip gives for a file a batch did not reach.
inline constexpr const char* kCancelledReason = "the batch was cancelled before this file";
inline constexpr const char* kStoppedReason = "the batch stopped before this file";

// What a front end provides. Every call happens on the thread that runs the batch.
class PipelineHost {
public:
    virtual ~PipelineHost() = default;

    // The settings record (read where a value is needed).
    virtual const TSettingsRecord& Settings() = 0;
    // The rotation and scale controls as they are now; asked once per file.
    virtual ScaleChoice CurrentScaleChoice() = 0;

    // The batch's progress: shown with range 0..stepCount and an empty file name, busy cursor.
    virtual void BeginBatch(int64_t stepCount) = 0;
    // The path of the file being worked on (the host shortens it for display: ShortenPath).
    virtual void SetProgressFileName(const std::string& path) = 0;
    // One work step done; the place where a window lets pending events run.
    virtual void StepProgress() = 0;
    // Asked before each file.
    virtual bool Cancelled() = 0;
    // Progress closed, cursor restored, summary lines refreshed. Called exactly once for every
    // BeginBatch, however the batch ended (done, cancelled, stopped, or an error escaping).
    virtual void EndBatch() = 0;

    // The thumbnail cell the host shows, in device pixels (64 x 48 times the screen's device
    // pixel ratio); asked for each thumbnail.
    virtual ThumbnailCell ThumbnailSize() { return {}; }
    // False for a host that shows no thumbnails: AddToTray is then given an empty bitmap, and
    // a big picture need not be held whole just to make one.
    virtual bool ShowsThumbnails() { return true; }
    // A new tray entry (In: the source at full size; Out: the result) with its thumbnail
    // (ThumbnailSize(), 64 x 48 for a blank one).
    virtual void AddToTray(TTray tray, const std::string& path, const TpicData& data, TBitmap thumbnail) = 0;
    // The Out entry with this path has been written and is now this file.
    virtual void ResultWritten(const std::string& path, const FileIdentity& identity) = 0;
    // After ResultWritten, for a JPEG result written under the size limit (MaxJPEGKB): the
    // quality it got and whether it is still over the limit.
    virtual void SizeLimitApplied(const std::string& path, const SizeLimitOutcome& outcome) {
        (void)path;
        (void)outcome;
    }
    // The newest entry of this path leaves the tray (an Out entry whose result was not
    // written). No file is touched.
    virtual void RemoveFromTray(TTray tray, const std::string& path) = 0;
    // The newest In entry of this path was not converted, for this reason (its tip says so).
    virtual void MarkNotConverted(const std::string& path, const std::string& reason) = 0;

    // Boxes the pipeline words itself: an error box ("Error") and a warning box ("Warning").
    virtual void ShowErrorBox(const std::string& text) = 0;
    virtual void ShowWarningBox(const std::string& text) = 0;
};

enum class BatchOutcome {
    Completed,  // every path processed
    Cancelled,  // stopped before a file because the host said so
    Stopped,    // a file failed and the rest was skipped (StopAtFirstError, or a name conflict)
    Failures,   // every path was tried; some could not be converted (listed in one error box)
    Rejected,   // the "Special" fields were invalid: nothing was done, no progress shown
};

struct TargetSize {
    int Width = 0;
    int Height = 0;
    bool operator==(const TargetSize&) const = default;
};

// A file a batch could not convert, and the reader's (or writer's) message why.
struct FileFailure {
    std::string Path;
    std::string Reason;
    bool operator==(const FileFailure&) const = default;
};

// Runs one batch over its own copy of paths, in order. A file that cannot be read or converted
// is kept in the In tray marked as not converted and the batch goes on; the failures are
// listed in one error box after EndBatch (FailureListText). A file its reader found damaged
// but could read in part is converted and named in the same message (DamagedListText; a
// warning box when nothing failed), its damage warnings not shown one by one. A result that cannot be written
// (missing or read-only folder, full disk) stops the batch, since every later file would
// fail the same way: its error escapes as an exception after EndBatch and the list. With
// StopAtFirstError the first failure of any kind ends the batch, as a thrown error or the
// "Couldn't load file: " box. Files not reached stay in the In tray, marked as not converted.
BatchOutcome ProcessFiles(PipelineHost& host, std::vector<std::string> paths);
// The per-file step; false when the file met a name conflict (the warning box was shown).
// An output type that cannot be written shows the "Unknown output file type for file:" box
// and adds no Out entry. Errors escape; an Out entry whose result was not written is removed
// first.
bool ProcessFile(PipelineHost& host, const std::string& path);
// How many loads so far were decoded on a thread of their own with the resampler following;
// for tests that must know that this path was taken.
int64_t FollowedDecodingCount();
// How many results so far were written as encoded while they were resampled; for tests too.
int64_t StreamedEncodingCount();

// "2 of 9 files could not be converted:" and a line "name: reason" for each failure.
std::string FailureListText(const std::vector<FileFailure>& failures, size_t fileCount);
// "1 file was damaged and converted as far as it could be read:" and a line "name: reason"
// for each file whose reader found it damaged (cut short, corrupt data) but gave a picture.
std::string DamagedListText(const std::vector<FileFailure>& damaged);
// The end-of-batch message: the failures, then the damaged files after a blank line; either
// alone when the other list is empty.
std::string BatchEndText(const std::vector<FileFailure>& failures, const std::vector<FileFailure>& damaged,
                         size_t fileCount);

// Whether the "Special" fields let a batch start: both fields integers, neither negative, not
// both zero. An empty field counts as 0, so one side alone follows the other.
bool SpecialFieldsValid(const ScaleChoice& choice);

// Why a batch with these settings and controls would fail every file ("" when it would not):
// invalid "Special" fields, a JPEG quality outside 1..100, an output type or filter outside
// its table. Reprocess asks before it clears anything.
std::string BatchRefusal(const TSettingsRecord& settings, const ScaleChoice& choice);

// The scale rule. base is the size in the orientation the result will have. Quotients and
// products are formed in long double and truncated; ratios are compared as doubles. A text
// that is not an integer fails with "'%s' is not a valid integer value"; a percentage whose
// product overflows 32 bits with "Integer overflow". A single zero "Special" value follows
// the other one in the picture's proportions.
TargetSize ComputeTargetSize(int baseWidth, int baseHeight, const ScaleChoice& choice, bool preserveAspectRatio);

// The extension a result gets: the output type's, or for "Same as original" the source's own
// (with its dot, in its own letter case); a source without one (or ending in a dot) gets the
// extension of the type its first bytes show (".jpg" for a JPEG), "" when none is known. An
// index outside the table fails with "Range check error".
std::string ResultExtension(int outputType, const std::string& sourcePath);
// WorkDir + Prefix + source name without folder and extension + Suffix.
std::string ResultStem(const TSettingsRecord& settings, const std::string& sourcePath);
// stem + extension, or the first free stem + "-n" + extension (n = 1..9999); nullopt when
// every one of them exists.
std::optional<std::string> FreeResultName(const std::string& stem, const std::string& extension);

// Whether SaveResult can write this extension (compared in lower case).
bool IsWritableExtension(const std::string& extension);

// A result file created exclusively under the first free name: held open until written.
// A name that appears between the check and the creation is skipped, never replaced.
class ReservedResult {
public:
    // nullopt when every candidate name exists; a creation error other than "exists"
    // (missing or read-only folder) fails with "Cannot create file "%s". %s".
    static std::optional<ReservedResult> Create(const std::string& stem, const std::string& extension);
    ReservedResult(ReservedResult&&) noexcept;
    ReservedResult& operator=(ReservedResult&&) noexcept;
    ~ReservedResult();  // removes the file unless Commit() was called

    const std::string& Path() const { return path_; }
    TStream& Stream();
    // Keeps the file; returns its identity. A failure reported at close fails with
    // WriteFailure() and the file is removed.
    FileIdentity Commit();
    // "Cannot write file "%s". %s" with the system's reason for the failed write (a full
    // disk), for a writer's short write to Stream().
    EWriteError WriteFailure() const;

private:
    ReservedResult() = default;
    void Discard() noexcept;
    std::string path_;
    std::unique_ptr<TStream> stream_;
    uint64_t device_ = 0, inode_ = 0;
    bool committed_ = false;
};

// Writes bitmap as the type the lower-cased extension names (".jpg" with quality, ".gif",
// ".bmp" 24-bit, ".png" 8-bit RGB). Returns false, writing nothing, for any other
// extension. A quality outside 1..100 fails with "Range check error".
bool SaveResult(TBitmap& bitmap, TStream& stream, const std::string& extension, int quality);
// The same into a new file that must not exist yet; a failed write removes it and fails with
// "Cannot write file "%s". %s".
bool SaveResult(TBitmap& bitmap, const std::string& path, const std::string& extension, int quality);

// The text of the top-level error box: a full stop is added when the last character comes
// after "." in character order.
std::string ErrorBoxText(const std::string& message);
