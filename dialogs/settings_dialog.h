#pragma once
// The advanced settings dialog: TOKBottomDlg (a fixed dialog with OK and Cancel under a
// bevel) and TfrmSettings, which edits the settings record. The dialog only holds values;
// the main window writes them in, reads them back after OK and saves them.
#include <QDialog>
#include <functional>
#include <string>

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

class TOKBottomDlg : public QDialog {
    Q_OBJECT
public:
    explicit TOKBottomDlg(QWidget* owner);

    QFrame* Bevel1 = nullptr;
    QPushButton* OKBtn = nullptr;
    QPushButton* CancelBtn = nullptr;

protected:
    void resizeEvent(QResizeEvent* event) override;
    // Positions of the two buttons and the bevel from the client size (anchored right and
    // bottom).
    virtual void PlaceControls();
};

class TfrmSettings : public TOKBottomDlg {
    Q_OBJECT
public:
    explicit TfrmSettings(QWidget* owner);

    // The dialog's properties, written in and read back by the main window.
    void SetResampler(int index);
    int Resampler() const;
    void SetOutputType(int index);
    int OutputType() const;
    void SetJPEGQuality(int quality);
    // Fails with "'<text>' is not a valid integer value" when the field is not an integer.
    int JPEGQuality() const;
    // Ends in "/" both ways; an empty field reads back as the default working folder.
    void SetWorkDir(const std::string& folder);
    std::string WorkDir() const;
    void SetUseIntViewer(bool on);
    bool UseIntViewer() const;
    void SetAutoOrient(bool on);
    bool AutoOrient() const;
    void SetPrefix(const std::string& text);
    std::string Prefix() const;
    void SetSuffix(const std::string& text);
    std::string Suffix() const;
    void SetPreserveAspectRatio(bool on);
    bool PreserveAspectRatio() const;
    // The JPEG size limit in kilobytes: 0 (no limit) shows as an empty field, and an empty
    // field reads back as 0.
    void SetMaxJPEGKB(int kilobytes);
    int MaxJPEGKB() const;

    // What "&Help" does (the main window shows its help window).
    std::function<void()> OnHelp;

    QLabel* Label1 = nullptr;
    QComboBox* cboOutputType = nullptr;
    QLabel* lblJPEGQuality = nullptr;
    QSpinBox* txtJPEGQuality = nullptr;  // 1..100: nothing else can be typed
    QLabel* a = nullptr;
    QComboBox* cboResampler = nullptr;
    QCheckBox* cbAspectRatio = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* txtWorkDir = nullptr;
    QPushButton* butBrowse = nullptr;
    QCheckBox* cbUseIntViewer = nullptr;
    QCheckBox* cbAutoOrient = nullptr;
    QLabel* lblPrefix = nullptr;
    QLineEdit* txtPrefix = nullptr;
    QLabel* lblSuffix = nullptr;
    QLineEdit* txtSuffix = nullptr;
    QLabel* lblMaxJPEGKB = nullptr;
    QLineEdit* txtMaxJPEGKB = nullptr;  // digits only
    QLabel* lblMaxJPEGKBUnit = nullptr;
    QPushButton* HelpBtn = nullptr;

public slots:
    void cboOutputTypeChange(int index);
    void butBrowseClick();
    void HelpBtnClick();

    // OK: a working folder that does not exist is offered to be made; the dialog stays open
    // when the user declines or it cannot be made.
    void accept() override;

protected:
    void PlaceControls() override;
};
