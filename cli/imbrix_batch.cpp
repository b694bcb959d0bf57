// imbrix-batch: runs the window's pipeline over the files named on the command line.
#include <signal.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "app/core/picture_formats.h"
#include "app/core/pipeline.h"
#include "app/core/progress_text.h"
#include "cli/batch_options.h"
#include "cli/metafile_module.h"
#include "graphics/errors.h"
#include "graphics/warning_sink.h"

namespace {

volatile std::sig_atomic_t interrupted = 0;

void OnInterrupt(int signal) {
    interrupted = 1;
    // The file in hand is finished (no half-written result); a second signal ends at once.
    std::signal(signal, SIG_DFL);
}

class BatchHost final : public PipelineHost {
public:
    BatchHost(const BatchOptions& options, bool showProgress) : options_(options), showProgress_(showProgress) {}

    const TSettingsRecord& Settings() override { return options_.Settings; }
    ScaleChoice CurrentScaleChoice() override { return options_.Scale; }

    void BeginBatch(int64_t stepCount) override {
        total_ = stepCount;
        done_ = 0;
    }
    void SetProgressFileName(const std::string& path) override {
        file_ = path;
        DrawProgress();
    }
    void StepProgress() override {
        ++done_;
        DrawProgress();
    }
    bool Cancelled() override { return interrupted != 0; }
    void EndBatch() override { ClearProgress(); }

    bool ShowsThumbnails() override { return false; }
    void AddToTray(TTray, const std::string&, const TpicData&, TBitmap) override {}
    void RemoveFromTray(TTray, const std::string&) override {}
    void MarkNotConverted(const std::string&, const std::string&) override {}
    void ResultWritten(const std::string& path, const FileIdentity&) override {
        ClearProgress();
        std::printf("%s\n", path.c_str());
        std::fflush(stdout);
        ++written_;
    }
    void SizeLimitApplied(const std::string& path, const SizeLimitOutcome& outcome) override {
        // Written all the same, as the window does; a script learns of it on standard error.
        if (outcome.OverLimit)
            Message(path + ": " + SizeLimitNote(outcome) + " (" + FormatKilobytes(outcome.Bytes) + ")");
    }
    void ShowErrorBox(const std::string& text) override {
        errorShown_ = true;
        Message(text);
    }
    void ShowWarningBox(const std::string& text) override { Message(text); }

    void Message(const std::string& text) {
        ClearProgress();
        std::fprintf(stderr, "%s\n", text.c_str());
        std::fflush(stderr);
    }
    bool ErrorShown() const { return errorShown_; }

private:
    void DrawProgress() {
        if (!showProgress_ || total_ <= 0) return;
        const int percent = static_cast<int>(done_ * 100 / total_);
        std::fprintf(stderr, "\r\033[K%3d%% %s", percent, ShortenPath(file_).c_str());
        std::fflush(stderr);
        lineShown_ = true;
    }
    void ClearProgress() {
        if (!lineShown_) return;
        std::fprintf(stderr, "\r\033[K");
        std::fflush(stderr);
        lineShown_ = false;
    }

    const BatchOptions& options_;
    bool showProgress_;
    int64_t total_ = 0, done_ = 0;
    std::string file_;
    bool lineShown_ = false;
    bool errorShown_ = false;
    int written_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    BatchOptions options;
    try {
        std::error_code ec;
        const std::filesystem::path cwd = std::filesystem::current_path(ec);
        options = ParseBatchOptions(args, ec ? std::string(".") : cwd.string());
    } catch (const UsageError& e) {
        std::fprintf(stderr, "imbrix-batch: %s\nTry 'imbrix-batch --help'.\n", e.message.c_str());
        return 2;
    }
    if (options.ShowHelp) {
        std::fputs(kBatchUsage, stdout);
        return 0;
    }
    if (options.ShowVersion) {
        std::fputs("imbrix-batch (Imbrix) " IMBRIX_VERSION "\n"
                   "Copyright (C) 2026 Imbrix developers\n"
                   "License MIT <https://opensource.org/licenses/MIT>.\n"
                   "This is free software: you are free to change and redistribute it.\n"
                   "There is NO WARRANTY, to the extent permitted by law.\n",
                   stdout);
        return 0;
    }

    {
        // Results are never written outside an existing folder, and the folder is never made
        // for the user: say so before any picture is read.
        std::error_code ec;
        if (!std::filesystem::is_directory(options.Settings.WorkDir, ec)) {
            std::fprintf(stderr, "imbrix-batch: the working folder \"%s\" does not exist\n",
                         options.Settings.WorkDir.c_str());
            return 2;
        }
    }

    RegisterPictureFormats();
    // Metafiles are drawn with QtGui, on the offscreen platform made when the first one is read.
    InstallMetafileModule();
    SetWarningSink([](const std::string& message) {
        std::fprintf(stderr, "%s\n", message.c_str());
        std::fflush(stderr);
    });
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);

    BatchHost host(options, options.Files.size() > 1 && ::isatty(STDERR_FILENO));
    try {
        switch (ProcessFiles(host, options.Files)) {
            case BatchOutcome::Rejected: return 2;
            case BatchOutcome::Stopped:
            case BatchOutcome::Failures: return 1;
            case BatchOutcome::Cancelled: host.Message("Cancelled: the remaining files were not processed."); return 1;
            case BatchOutcome::Completed: break;
        }
    } catch (const std::bad_alloc&) {
        host.Message("Out of memory.");
        return 1;
    } catch (const std::exception& e) {
        host.Message(ErrorBoxText(e.what()));
        return 1;
    }
    // A file that gave no result (an output type that cannot be written) is a failure for a
    // script, even though the batch went on with the next file.
    return host.ErrorShown() ? 1 : 0;
}
