#pragma once
// Every message box of the program goes through here, so that one hook can record them
// (tests) instead of opening a modal box, and so that the top-level error box is worded
// the same wherever an error is caught.
#include <QString>
#include <exception>
#include <functional>

class QWidget;

// The application title: the main window's caption and the top-level error box's title.
extern const char* const kApplicationTitle;

enum class TMessageKind { Error, Warning, Information };

using MessageBoxHook = std::function<void(TMessageKind kind, const QString& title, const QString& text)>;

// Installs a hook that receives every box instead of the screen; returns the previous one.
// An empty hook restores the real boxes.
MessageBoxHook SetMessageBoxHook(MessageBoxHook hook);

// A modal box with one OK button (or the hook's call).
void ShowMessageBox(QWidget* parent, TMessageKind kind, const QString& title, const QString& text);
// A question with Yes and No (Yes the default); true for Yes. A test hook answers instead.
using QuestionHook = std::function<bool(const QString& text)>;
QuestionHook SetQuestionHook(QuestionHook hook);
bool AskQuestion(QWidget* parent, const QString& text);

// Messages the program words itself: titled "Error" / "Warning".
void ShowErrorBox(QWidget* parent, const QString& text);
void ShowWarningBox(QWidget* parent, const QString& text);

// The text of the top-level error box: a full stop is appended when the last character
// sorts after "." (so "Range check error" gets one, "... (.xyz)" does not).
QString TopLevelErrorText(const QString& message);
// The top-level error box: titled with the application title, error icon, OK.
void ShowTopLevelError(QWidget* parent, const QString& message);

// Runs one user command; an error escaping it ends the command and is shown in the
// top-level error box. What the command had done before the error stays done.
// Returns false when an error was shown.
bool GuardCommand(QWidget* parent, const std::function<void()>& command);
// Shows the error of an exception caught elsewhere (the application's event hook).
void ReportException(QWidget* parent, std::exception_ptr error);
