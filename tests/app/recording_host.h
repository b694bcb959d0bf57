#pragma once
// A pipeline host for tests: records every call in order and keeps a real tray model.
#include <functional>
#include <string>
#include <vector>

#include "app/core/pipeline.h"
#include "app/core/tray_model.h"

struct RecordingHost : PipelineHost {
    TSettingsRecord settings;
    ScaleChoice scale;
    TrayModel trays;
    std::vector<std::string> events;  // "begin 12", "file p", "step", "in p", "out p", "written p", "error t", "warning t", "end"
    std::vector<std::string> errors, warnings;
    std::vector<SizeLimitOutcome> limited;  // every SizeLimitApplied, in order
    int64_t stepCount = -1;
    int steps = 0;
    int begins = 0, ends = 0;
    int filesStarted = 0;
    // Cancel is reported from the moment this many files were started (-1: never).
    int cancelAfterFiles = -1;
    // Called when a file's progress name is set, before its work starts.
    std::function<void(const std::string&)> onFile;

    explicit RecordingHost(const std::string& workDir) { settings.WorkDir = workDir; }

    const TSettingsRecord& Settings() override { return settings; }
    ScaleChoice CurrentScaleChoice() override { return scale; }
    void BeginBatch(int64_t count) override {
        stepCount = count;
        ++begins;
        events.push_back("begin " + std::to_string(count));
    }
    void SetProgressFileName(const std::string& path) override {
        ++filesStarted;
        events.push_back("file " + path);
        if (onFile) onFile(path);
    }
    void StepProgress() override {
        ++steps;
        events.push_back("step");
    }
    bool Cancelled() override { return cancelAfterFiles >= 0 && filesStarted >= cancelAfterFiles; }
    void EndBatch() override {
        ++ends;
        events.push_back("end");
    }
    void AddToTray(TTray tray, const std::string& path, const TpicData& data, TBitmap thumbnail) override {
        events.push_back(std::string(tray == TTray::In ? "in " : "out ") + path);
        trays.Add(tray, path, data, std::move(thumbnail));
    }
    void ResultWritten(const std::string& path, const FileIdentity& identity) override {
        events.push_back("written " + path);
        trays.MarkWritten(path, identity);
    }
    void SizeLimitApplied(const std::string& path, const SizeLimitOutcome& outcome) override {
        events.push_back("limited " + path);
        limited.push_back(outcome);
        trays.SetNote(path, SizeLimitNote(outcome));
    }
    void RemoveFromTray(TTray tray, const std::string& path) override {
        events.push_back(std::string(tray == TTray::In ? "remove in " : "remove out ") + path);
        trays.RemoveLast(tray, path);
    }
    void MarkNotConverted(const std::string& path, const std::string& reason) override {
        events.push_back("not converted " + path);
        trays.MarkNotConverted(path, reason);
    }
    void ShowErrorBox(const std::string& text) override {
        events.push_back("error " + text);
        errors.push_back(text);
    }
    void ShowWarningBox(const std::string& text) override {
        events.push_back("warning " + text);
        warnings.push_back(text);
    }
};
