#include "dialogs/message_box.h"

#include <QMessageBox>

#include "graphics/errors.h"

const char* const kApplicationTitle = "Imbrix 1.2beta (made by the Imbrix contributors)";

namespace {
MessageBoxHook& Hook() {
    static MessageBoxHook hook;
    return hook;
}
}  // namespace

MessageBoxHook SetMessageBoxHook(MessageBoxHook hook) {
    MessageBoxHook previous = std::move(Hook());
    Hook() = std::move(hook);
    return previous;
}

void ShowMessageBox(QWidget* parent, TMessageKind kind, const QString& title, const QString& text) {
    if (Hook()) {
        Hook()(kind, title, text);
        return;
    }
    QMessageBox::Icon icon = QMessageBox::Information;
    if (kind == TMessageKind::Error) icon = QMessageBox::Critical;
    if (kind == TMessageKind::Warning) icon = QMessageBox::Warning;
    QMessageBox box(icon, title, text, QMessageBox::Ok, parent);
    box.exec();
}

namespace {
QuestionHook& Question() {
    static QuestionHook hook;
    return hook;
}
}  // namespace

QuestionHook SetQuestionHook(QuestionHook hook) {
    QuestionHook previous = std::move(Question());
    Question() = std::move(hook);
    return previous;
}

bool AskQuestion(QWidget* parent, const QString& text) {
    if (Question()) return Question()(text);
    QMessageBox box(QMessageBox::Question, QStringLiteral("Question"), text, QMessageBox::Yes | QMessageBox::No,
                    parent);
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

void ShowErrorBox(QWidget* parent, const QString& text) {
    ShowMessageBox(parent, TMessageKind::Error, QStringLiteral("Error"), text);
}

void ShowWarningBox(QWidget* parent, const QString& text) {
    ShowMessageBox(parent, TMessageKind::Warning, QStringLiteral("Warning"), text);
}

QString TopLevelErrorText(const QString& message) {
    if (!message.isEmpty() && message.back() > QChar(u'.')) return message + u'.';
    return message;
}

void ShowTopLevelError(QWidget* parent, const QString& message) {
    ShowMessageBox(parent, TMessageKind::Error, QString::fromUtf8(kApplicationTitle), TopLevelErrorText(message));
}

void ReportException(QWidget* parent, std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::bad_alloc&) {
        ShowTopLevelError(parent, QStringLiteral("Out of memory"));
    } catch (const std::exception& e) {
        ShowTopLevelError(parent, QString::fromUtf8(e.what()));
    } catch (...) {
        ShowTopLevelError(parent, QStringLiteral("Unknown error"));
    }
}

bool GuardCommand(QWidget* parent, const std::function<void()>& command) {
    try {
        command();
        return true;
    } catch (...) {
        ReportException(parent, std::current_exception());
        return false;
    }
}
