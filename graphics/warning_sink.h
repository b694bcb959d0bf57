#pragma once
// Codecs deep inside a load may need to warn the user (a damaged JPEG strip in a TIFF, say)
// without failing it. They call ShowWarning; the front end decides how a warning reaches the
// user (a "Warning" box in the window, standard error in imbrix-batch).
#include <functional>
#include <string>

using WarningSink = std::function<void(const std::string& message)>;

// Damage: the picture could be read only in part (a file cut short, corrupt data) and the
// load went on with what it had. A batch collects these per file for its end message instead
// of showing each one; everywhere else they are shown like any other warning.
enum class WarningKind { Notice, Damage };

// Installs the sink and returns the previous one. An empty sink drops warnings.
WarningSink SetWarningSink(WarningSink sink);
void ShowWarning(const std::string& message, WarningKind kind = WarningKind::Notice);
// Straight to the process-wide sink, past any thread sink (which may pass warnings on so).
void ShowProcessWarning(const std::string& message);
// A sink for the calling thread only, ahead of the process-wide one (empty: none); returns the
// previous one. A load running beside the batch collects its warnings so that they can be
// shown later, on the batch's thread, where a load in turn would have shown them.
using ThreadWarningSink = std::function<void(const std::string& message, WarningKind kind)>;
ThreadWarningSink SetThreadWarningSink(ThreadWarningSink sink);
