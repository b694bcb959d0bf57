#pragma once
// Codecs deep inside a load may need to warn the user (a damaged JPEG strip in a TIFF, say)
// without failing it. They call ShowWarning; the front end decides how a warning reaches the
// user (a "Warning" box in the window, standard error in imbrix-batch).
#include <functional>
#include <string>

using WarningSink = std::function<void(const std::string& message)>;

// Installs the sink and returns the previous one. An empty sink drops warnings.
WarningSink SetWarningSink(WarningSink sink);
void ShowWarning(const std::string& message);
// A sink for the calling thread only, ahead of the process-wide one (empty: none); returns the
// previous one. A load running beside the batch collects its warnings so that they can be
// shown later, on the batch's thread, where a load in turn would have shown them.
WarningSink SetThreadWarningSink(WarningSink sink);
