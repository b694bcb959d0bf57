#pragma once
// Codecs deep inside a load may need to warn the user (a damaged JPEG strip in a TIFF, say)
// without failing it. They call ShowWarning; the front end decides how a warning reaches the
// user (a "Warning" box in the window, standard error in imbrix-batch).
#include <functional>
#include <string>
#include <vector>

using WarningSink = std::function<void(const std::string& message)>;

// Installs the sink and returns the previous one. An empty sink drops warnings.
WarningSink SetWarningSink(WarningSink sink);
void ShowWarning(const std::string& message);

// While one is alive on a thread, that thread's warnings are kept in it instead of reaching
// the sink: a picture loaded ahead on a thread of its own has its warnings shown later, on
// the batch's thread and at the picture's own turn. Captures nest; the innermost one keeps.
class WarningCapture {
public:
    WarningCapture();
    ~WarningCapture();
    WarningCapture(const WarningCapture&) = delete;
    WarningCapture& operator=(const WarningCapture&) = delete;
    // The warnings kept so far, in order; the capture starts again empty.
    std::vector<std::string> Take();

private:
    friend void ShowWarning(const std::string& message);
    std::vector<std::string> messages_;
    WarningCapture* outer_;
};
