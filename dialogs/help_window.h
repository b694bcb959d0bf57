#pragma once
// TfrmHelp: the program's fixed help text in a plain window. One instance, made on first
// use by the main window; closing it only hides it, so size and scroll position persist.
#include <QWidget>

class QTextEdit;
class QPushButton;

class TfrmHelp : public QWidget {
    Q_OBJECT
public:
    explicit TfrmHelp(QWidget* owner);

    // The help text, one paragraph per line.
    static QString HelpText();

    QTextEdit* RichEdit1 = nullptr;
    QWidget* Panel1 = nullptr;
    QPushButton* butClose = nullptr;

public slots:
    void butCloseClick();

protected:
    void resizeEvent(QResizeEvent* event) override;
};
