#pragma once
// TfrmProcess: the small window that shows how far a batch has got and offers Cancel.
// The batch runs on the user-interface thread; StepProgress is where it lets the message
// loop run, which is how Cancel (and the rest of the program) stays live.
#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;

class TfrmProcess : public QDialog {
    Q_OBJECT
public:
    explicit TfrmProcess(QWidget* owner);

    void SetMin(int n);
    void SetMax(int n);
    void SetStep(int n);
    // Shows the text (shortened when long) and repaints the label at once.
    void SetFileName(const QString& text);
    // Advances the bar, lets every pending event through, then raises the dialog.
    void StepProgress();
    bool Cancelled() const { return cancelled_; }

    // Texts over 45 characters become their first 23, "...", and their last 20.
    static QString ShortenPath(const QString& text);

    QProgressBar* pbProgress = nullptr;
    QLabel* lblFilename = nullptr;
    QPushButton* butCancel = nullptr;

public slots:
    void butCancelClick();
    // Esc: acts as Cancel; the dialog stays until the batch closes it.
    void reject() override;

protected:
    // The title-bar close only hides the dialog; the batch goes on.
    void closeEvent(QCloseEvent* event) override;

private:
    bool cancelled_ = false;
    int step_ = 1;
};
