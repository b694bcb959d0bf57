#pragma once
// TfrmMain: the program's one main window. Two trays with the processing controls between
// them; a thin shell over the pipeline (it is the pipeline's host), the settings store and
// the tray model.
#include <QKeyEvent>
#include <QListWidget>
#include <QPointer>
#include <QStringList>
#include <QWidget>
#include <deque>
#include <functional>
#include <memory>

#include "app/core/pipeline.h"
#include "app/core/settings_record.h"
#include "app/core/tray_model.h"
#include "app/settings/settings_store.h"
#include "dialogs/help_window.h"
#include "graphics/warning_sink.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidgetItem;
class QMenu;
class QMimeData;
class QPushButton;
class QRadioButton;
class TDropFileSource;
class TDropFileTarget;
class TfrmProcess;
class TfrmSettings;
class TShellOpener;

// The window's private message that asks it to process the pending drops.
inline constexpr int kDropMessage = 1025;

// Where the three columns go for a client width: the trays share what the middle column
// leaves, the Out tray taking the odd pixel. (With a 4-pixel frame on each side this is
// the outer-width rule trunc(d / 2) - 4, d = outer width - middle width.)
struct ColumnGeometry {
    int InWidth = 0;
    int OutLeft = 0;
    int OutWidth = 0;
};
ColumnGeometry ComputeColumns(int clientWidth, int processLeft, int processWidth);

// The open dialog's filter list as (description, patterns) in the dialog's order, and the
// same turned into filters for the file dialog (both letter cases of every pattern).
struct FileFilter {
    const char* description;
    const char* patterns;  // separated by ";"
};
const std::vector<FileFilter>& OpenDialogFilters();
QStringList OpenDialogNameFilters();

// An icon-mode tray list; drags out of it are started by the main window, never by the
// view itself.
class TTrayListView : public QListWidget {
    Q_OBJECT
public:
    using QListWidget::QListWidget;

    // Asked first for every key pressed in the tray; true when it took the key. The list's own
    // handling would otherwise take Ctrl+C (it copies a caption) before any shortcut.
    std::function<bool(QKeyEvent*)> KeyHandler;

protected:
    void startDrag(Qt::DropActions) override {}
    void keyPressEvent(QKeyEvent* event) override {
        if (KeyHandler && KeyHandler(event)) return;
        QListWidget::keyPressEvent(event);
    }
};

class TfrmMain : public QWidget, public PipelineHost {
    Q_OBJECT
public:
    // Client area of the design: 630 x 395 outside, less a 4-pixel frame and the caption.
    static constexpr int kDesignClientWidth = 622;
    static constexpr int kDesignClientHeight = 368;
    static constexpr int kProcessWidth = 145;
    // The narrowest window leaves each tray 124 pixels.
    static constexpr int kMinClientWidth = kProcessWidth + 2 * 124;

    explicit TfrmMain(SettingsLocation location = {}, QWidget* parent = nullptr);
    ~TfrmMain() override;

    // The settings record (the dialog exchange and LoadSettings change it).
    TSettingsRecord& Record() { return record_; }
    const TrayModel& Trays() const { return model_; }
    bool BatchRunning() const { return batchRunning_; }
    size_t PendingDropCount() const { return pendingDrops_.size(); }
    TfrmHelp* HelpWindow() const { return frmHelp_.get(); }
    TfrmProcess* ProgressDialog() const { return progress_.get(); }
    TDropFileTarget* DropTarget() const { return dtIn; }
    TDropFileSource* DragSource() const { return dsOut; }

    // The Special size controls, enabled or disabled together.
    void SetSpecialEnabled(bool on);
    // Runs one batch (or queues the paths behind a running one).
    void RunBatch(const QStringList& paths);
    // Files handed in from outside (the command line, a second "imbrix FILE..."): processed
    // as a drop is, once the message loop runs. The window comes to the front.
    void OpenFiles(const QStringList& files);
    // Empties both trays, deleting the result files the Out tray lists.
    void ClearTrays();
    void UpdateSummary();
    void OpenPicture(const QString& path);

    // Commands on a tray's selected entries (the context menu and the keys). Remove takes the
    // entries off the tray; for the Out tray it deletes their result files (only ours).
    void RemoveSelected(TTray tray);
    // The selected files on the clipboard: a file list that file managers paste
    // (text/uri-list, x-special/gnome-copied-files) and, for one result, the picture (image/png).
    void CopySelected(TTray tray);
    void OpenSelectedWithDefaultProgram(TTray tray);
    void ShowSelectedInFolder(TTray tray);
    // The clipboard data CopySelected puts there (nullptr when nothing is selected).
    std::unique_ptr<QMimeData> ClipboardData(TTray tray) const;
    TShellOpener* Shell() const { return shell_; }
    QMenu* TrayMenu(TTray tray) const { return tray == TTray::In ? mnuIn : mnuOut; }
    QString lvInInfoTip(int index) const;
    QString lvOutInfoTip(int index) const;

    // Replaceable for tests: the file dialog of "&Add Files" and the modal run of the
    // settings dialog (returns QDialog::Accepted or Rejected).
    std::function<QStringList(QWidget* owner)> ChooseFiles;
    std::function<int(TfrmSettings& dialog)> RunSettingsDialog;

    // PipelineHost
    const TSettingsRecord& Settings() override { return record_; }
    ScaleChoice CurrentScaleChoice() override;
    void BeginBatch(int64_t stepCount) override;
    void SetProgressFileName(const std::string& path) override;
    void StepProgress() override;
    bool Cancelled() override;
    void EndBatch() override;
    void AddToTray(TTray tray, const std::string& path, const TpicData& data, TBitmap thumbnail) override;
    void ResultWritten(const std::string& path, const FileIdentity& identity) override;
    void SizeLimitApplied(const std::string& path, const SizeLimitOutcome& outcome) override;
    void RemoveFromTray(TTray tray, const std::string& path) override;
    void MarkNotConverted(const std::string& path, const std::string& reason) override;
    void ShowErrorBox(const std::string& text) override;
    void ShowWarningBox(const std::string& text) override;
    ThumbnailCell ThumbnailSize() override;

    // Controls, named as the window design names them.
    QWidget* pnlIn = nullptr;
    QLabel* Label2 = nullptr;
    TTrayListView* lvIn = nullptr;
    QLabel* pnlInDetail = nullptr;
    QWidget* pnlInButton = nullptr;
    QPushButton* butAddFile = nullptr;

    QWidget* pnlProcess = nullptr;
    QLabel* Label1 = nullptr;
    QComboBox* cboRotate = nullptr;
    QGroupBox* gbScale = nullptr;
    QRadioButton* rbFullSize = nullptr;
    QRadioButton* rbHalfSize = nullptr;
    QRadioButton* rbQuarterSize = nullptr;
    QRadioButton* rbSpecial = nullptr;
    QLabel* lblWidth = nullptr;
    QLineEdit* txtWidth = nullptr;
    QComboBox* cboWidthUnits = nullptr;
    QLabel* lblHeight = nullptr;
    QLineEdit* txtHeight = nullptr;
    QComboBox* cboHeightUnits = nullptr;
    QPushButton* butReprocess = nullptr;
    QPushButton* butAdvanced = nullptr;
    QPushButton* butClearTrays = nullptr;
    QPushButton* butHelp = nullptr;
    QPushButton* butQuit = nullptr;

    QWidget* pnlOut = nullptr;
    QLabel* Label3 = nullptr;
    TTrayListView* lvOut = nullptr;
    QLabel* pnlOutDetail = nullptr;
    QWidget* pnlOutButton = nullptr;
    QPushButton* butSelectAll = nullptr;

    TDropFileTarget* dtIn = nullptr;
    TDropFileSource* dsOut = nullptr;

    // The trays' context menus and their commands.
    QMenu* mnuIn = nullptr;
    QAction* actInCopy = nullptr;
    QAction* actInOpen = nullptr;
    QAction* actInShow = nullptr;
    QAction* actInRemove = nullptr;
    QMenu* mnuOut = nullptr;
    QAction* actOutCopy = nullptr;
    QAction* actOutOpen = nullptr;
    QAction* actOutShow = nullptr;
    QAction* actOutRename = nullptr;
    QAction* actOutDelete = nullptr;

public slots:
    void butQuitClick();
    void butHelpClick();
    void butAdvancedClick();
    void butAddFileClick();
    void butReprocessClick();
    void butClearTraysClick();
    void butSelectAllClick();
    void lvInDblClick();
    void lvOutDblClick();
    void rbFullSizeClick();
    void rbHalfSizeClick();
    void rbQuarterSizeClick();
    void rbSpecialClick();
    void txtWidthChange(const QString& text);
    void txtHeightChange(const QString& text);
    void dtInDrop();

    // Mouse handlers of the Out tray's drag source; MouseMove returns true when it
    // started a drag.
    void lvOutMouseDown(QPoint position);
    bool lvOutMouseMove(Qt::MouseButtons buttons, QPoint position);

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildTrayColumn(QWidget* panel, QLabel*& label, const QString& caption, TTrayListView*& list,
                         QLabel*& detail, QWidget*& buttonPanel, QPushButton*& button, const QString& buttonText);
    void BuildProcessColumn();
    void LayoutTrayColumn(QWidget* panel, QLabel* label, QListWidget* list, QLabel* detail, QWidget* buttonPanel,
                          QPushButton* button);
    void LoadSettings();
    void SaveSettings();
    void ProcessPendingDrops();
    void SetBatchControlsEnabled(bool on);
    void OpenSelected(QListWidget* list, TTray tray);
    void PercentRule(QLineEdit* edit, QComboBox* units, const QString& text);
    void BuildTrayMenus();
    void BuildShortcuts();
    void Relayout();
    QListWidget* TrayList(TTray tray) const;
    std::vector<size_t> SelectedRows(TTray tray) const;
    // Selected paths: the sources of the In tray, the written results of the Out tray.
    std::vector<std::string> SelectedFiles(TTray tray) const;
    void lvOutEdited(QListWidgetItem* item);
    void RestorePlaces();
    void SavePlaces();

    SettingsLocation location_;
    TSettingsRecord record_;
    TrayModel model_;
    std::deque<QStringList> pendingDrops_;
    bool dragInProgress_ = false;
    QPoint mouseDownPos_;
    // Owned here and destroyed with the window, but not a child window of it: a child would
    // be blocked while the settings dialog (which can open help) is modal.
    std::unique_ptr<TfrmHelp> frmHelp_;
    std::unique_ptr<TfrmProcess> progress_;
    bool batchRunning_ = false;
    bool closing_ = false;
    WarningSink previousSink_;
    TShellOpener* shell_ = nullptr;
};
