#include "app/window/main_window.h"

#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QFileDialog>
#include <QGroupBox>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShortcut>
#include <QStyle>
#include <QTimer>
#include <QToolTip>
#include <QUrl>

#include "app/core/file_util.h"
#include "app/core/thumbnail.h"
#include "app/window/drop_binding.h"
#include "app/settings/window_geometry.h"
#include "app/window/progress_dialog.h"
#include "app/window/shell_open.h"
#include "dialogs/bitmap_image.h"
#include "dialogs/help_window.h"
#include "dialogs/message_box.h"
#include "dialogs/settings_dialog.h"
#include "dialogs/viewer.h"
#include "graphics/picture.h"
#include "graphics/picture_to_bitmap.h"
#include "jpeg/jpeg_image.h"

ColumnGeometry ComputeColumns(int clientWidth, int processLeft, int processWidth) {
    const int d = clientWidth - processWidth;
    ColumnGeometry g;
    g.InWidth = d / 2;  // C++ division truncates toward zero, % takes the dividend's sign
    g.OutLeft = processLeft + processWidth;
    g.OutWidth = g.InWidth + d % 2;
    return g;
}

const std::vector<FileFilter>& OpenDialogFilters() {
    static const std::vector<FileFilter> filters = {
        {"All Files (*.*)", "*.*"},
        {"Common Files (*.gif;*.jpg;*.bmp;*.tif;*.tiff)", "*.gif;*.jpg;*.bmp;*.tif;*.tiff"},
        {".gif (CompuServe GIF Image)", "*.gif"},
        {".jpg (JPEG Image File)", "*.jpg"},
        {".bmp (Windows Bitmap)", "*.bmp"},
        {".tif, .tiff (Tag Image File Format)", "*.tif;*.tiff"},
        // Every extension the readers open, in the order they are registered.
        {"All Pictures (*.bmp;*.ico;*.wmf;*.emf;*.jfif;*.jpg;*.jpe;*.jpeg;*.rle;*.dib;*.win;*.vst;*.vda;*.tga;*.icb;*.tiff;*.tif;*.fax;*.eps;*.pcx;*.pcc;*.scr;*.rpf;*.rla;*.sgi;*.rgba;*.rgb;*.bw;*.psd;*.pdd;*.ppm;*.pgm;*.pbm;*.cel;*.pic;*.pcd;*.cut;*.psp;*.png;*.heic;*.heif;*.avif;*.webp;*.gif)",
         "*.bmp;*.ico;*.wmf;*.emf;*.jfif;*.jpg;*.jpe;*.jpeg;*.rle;*.dib;*.win;*.vst;*.vda;*.tga;*.icb;*.tiff;*.tif;*.fax;*.eps;*.pcx;*.pcc;*.scr;*.rpf;*.rla;*.sgi;*.rgba;*.rgb;*.bw;*.psd;*.pdd;*.ppm;*.pgm;*.pbm;*.cel;*.pic;*.pcd;*.cut;*.psp;*.png;*.heic;*.heif;*.avif;*.webp;*.gif"},
    };
    return filters;
}

QStringList OpenDialogNameFilters() {
    QStringList result;
    for (const FileFilter& f : OpenDialogFilters()) {
        QStringList patterns;
        for (const QString& p : QString::fromUtf8(f.patterns).split(u';', Qt::SkipEmptyParts)) {
            // "*.*" means every file here, also one without an extension. File names are
            // case-sensitive on Linux, so both spellings of an extension are listed.
            if (p == QStringLiteral("*.*")) {
                patterns << QStringLiteral("*");
                continue;
            }
            patterns << p.toLower();
            if (p.toUpper() != p.toLower()) patterns << p.toUpper();
        }
        // The file dialog takes the patterns from the last parenthesis and, with the details
        // hidden, shows the text before it: the description as it stands.
        result << QString::fromUtf8(f.description) + QStringLiteral(" (") + patterns.join(u' ') + u')';
    }
    return result;
}

namespace {
QImage ThumbnailImage(const TBitmap& thumbnail) { return BitmapToQImage(thumbnail); }

NumberSeparators LocaleSeparators() {
    const QLocale locale;
    NumberSeparators sep;
    sep.Thousands = locale.groupSeparator().toStdString();
    sep.Decimal = locale.decimalPoint().toStdString();
    return sep;
}

QLabel* MakeLabel(QWidget* parent, const QString& text, int left, int top, int width = 0) {
    auto* label = new QLabel(text, parent);
    label->move(left, top);
    label->adjustSize();
    if (width > 0) label->resize(width, label->height());
    return label;
}

QPushButton* MakeButton(QWidget* parent, const QString& text, int left, int top, int width, int height) {
    auto* b = new QPushButton(text, parent);
    b->setGeometry(left, top, width, height);
    b->setAutoDefault(false);
    return b;
}

int UnitIndex(QComboBox* units, const std::string& text) {
    const QString t = QString::fromStdString(text);
    for (int i = 0; i < units->count(); ++i)
        if (units->itemText(i).compare(t, Qt::CaseInsensitive) == 0) return i;
    return -1;
}
}  // namespace

namespace {
struct StyleSpacing {
    int Left, Top, Right, Bottom, Spacing;
};
StyleSpacing SpacingOf(const QWidget* w) {
    const QStyle* st = w->style();
    StyleSpacing sp{st->pixelMetric(QStyle::PM_LayoutLeftMargin, nullptr, w),
                    st->pixelMetric(QStyle::PM_LayoutTopMargin, nullptr, w),
                    st->pixelMetric(QStyle::PM_LayoutRightMargin, nullptr, w),
                    st->pixelMetric(QStyle::PM_LayoutBottomMargin, nullptr, w),
                    st->pixelMetric(QStyle::PM_LayoutVerticalSpacing, nullptr, w)};
    // Styles that space by control type answer -1 here.
    if (sp.Spacing < 0) sp.Spacing = st->layoutSpacing(QSizePolicy::DefaultType, QSizePolicy::DefaultType, Qt::Vertical);
    if (sp.Spacing < 0) sp.Spacing = 6;
    for (int* m : {&sp.Left, &sp.Top, &sp.Right, &sp.Bottom})
        if (*m < 0) *m = 9;
    return sp;
}
constexpr int kButtonHeight = 25;
constexpr int kDetailHeight = 26;
}  // namespace

TfrmMain::TfrmMain(SettingsLocation location, QWidget* parent) : QWidget(parent), location_(std::move(location)) {
    // 1-2. Caption; the design's caption "Imbrix" is replaced by the application title.
    setWindowTitle(QString::fromUtf8(kApplicationTitle));
    setWindowIcon(QIcon(QStringLiteral(":/imbrix/imbrix.png")));

    pnlIn = new QWidget(this);
    BuildTrayColumn(pnlIn, Label2, QStringLiteral("In"), lvIn, pnlInDetail, pnlInButton, butAddFile,
                    QStringLiteral("&Add Files"));
    lvIn->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvIn->setDragEnabled(false);

    pnlProcess = new QWidget(this);
    BuildProcessColumn();

    pnlOut = new QWidget(this);
    BuildTrayColumn(pnlOut, Label3, QStringLiteral("Out"), lvOut, pnlOutDetail, pnlOutButton, butSelectAll,
                    QStringLiteral("&Select All"));
    // Captions can be edited in place; that changes the caption only, never a file.
    lvOut->setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    // Pressing on one of several selected items keeps the selection, so they can be
    // dragged together; the drag itself is ours (lvOutMouseMove).
    lvOut->setDragEnabled(true);
    lvOut->viewport()->installEventFilter(this);
    lvIn->viewport()->installEventFilter(this);

    connect(butAddFile, &QPushButton::clicked, this, &TfrmMain::butAddFileClick);
    connect(butSelectAll, &QPushButton::clicked, this, &TfrmMain::butSelectAllClick);
    connect(lvIn, &QListWidget::itemDoubleClicked, this, [this] { lvInDblClick(); });
    connect(lvOut, &QListWidget::itemDoubleClicked, this, [this] { lvOutDblClick(); });

    connect(lvOut, &QListWidget::itemChanged, this, &TfrmMain::lvOutEdited);
    shell_ = new TShellOpener(this);
    BuildTrayMenus();
    BuildShortcuts();

    dtIn = new TDropFileTarget(this);
    dsOut = new TDropFileSource(this);
    connect(dtIn, &TDropFileTarget::Drop, this, [this] { dtInDrop(); });

    resize(kDesignClientWidth, kDesignClientHeight);
    // 3. Minimum size; no maximum. Tall enough that the bottom row stays below "Clear Trays"
    // whatever margins the style asks for.
    const StyleSpacing sp = SpacingOf(this);
    const int minHeight = std::max(kDesignClientHeight, butClearTrays->geometry().bottom() + 1 + sp.Spacing +
                                                            kButtonHeight + sp.Bottom);
    setMinimumSize(kMinClientWidth, minHeight);
    // 4. The In tray takes file drops.
    dtIn->Register(lvIn->viewport());
    // 5. Settings, also into the rotation and scale controls.
    LoadSettings();
    // 7. Special controls follow the scale choice.
    SetSpecialEnabled(rbSpecial->isChecked());
    // Where the window and the viewers were when the program last closed.
    RestorePlaces();

    // JPEG pictures decode to the screen's depth by default.
    if (QScreen* screen = QGuiApplication::primaryScreen()) SetJpegDefaultOutputDepth(screen->depth());
    // Codecs that need to warn the user do so in a "Warning" box.
    previousSink_ = SetWarningSink([this](const std::string& text) {
        ::ShowWarningBox(this, QString::fromStdString(text));
    });
    UpdateSummary();
}

TfrmMain::~TfrmMain() {
    // Unregister the drop target first, then empty the trays (deleting the results).
    dtIn->Unregister();
    CloseAllViewers();
    ClearTrays();
    SetWarningSink(std::move(previousSink_));
}

void TfrmMain::BuildTrayColumn(QWidget* panel, QLabel*& label, const QString& caption, TTrayListView*& list,
                               QLabel*& detail, QWidget*& buttonPanel, QPushButton*& button,
                               const QString& buttonText) {
    label = new QLabel(caption, panel);
    label->setAlignment(Qt::AlignCenter);
    QFont bold = label->font();
    bold.setBold(true);
    label->setFont(bold);
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, pal.color(QPalette::Active, QPalette::Highlight));
    label->setPalette(pal);

    list = new TTrayListView(panel);
    list->setViewMode(QListView::IconMode);
    list->setIconSize(QSize(kThumbnailWidth, kThumbnailHeight));
    list->setGridSize(QSize(kThumbnailWidth + 40, kThumbnailHeight + 40));
    list->setResizeMode(QListView::Adjust);  // auto-arrange
    list->setMovement(QListView::Static);
    list->setWrapping(true);
    list->setWordWrap(true);
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list->setDragDropMode(QAbstractItemView::NoDragDrop);
    list->setTextElideMode(Qt::ElideMiddle);

    detail = new QLabel(panel);
    detail->setAlignment(Qt::AlignCenter);
    detail->setWordWrap(true);
    detail->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);

    buttonPanel = new QWidget(panel);
    button = new QPushButton(buttonText, buttonPanel);
    button->setAutoDefault(false);
    button->resize(89, 25);
}

void TfrmMain::BuildProcessColumn() {
    QWidget* p = pnlProcess;
    cboRotate = new QComboBox(p);
    cboRotate->setGeometry(8, 19, 129, 21);
    cboRotate->addItems({QStringLiteral("None"), QStringLiteral("90 Degrees Right"), QStringLiteral("Flip (180 degrees)"),
                         QStringLiteral("90 Degrees Left")});
    cboRotate->setCurrentIndex(0);
    Label1 = MakeLabel(p, QStringLiteral("R&otation:"), 8, 4);
    Label1->setBuddy(cboRotate);

    gbScale = new QGroupBox(QStringLiteral("Scale"), p);
    gbScale->setGeometry(8, 48, 129, 161);
    // The title sits on the frame line, as the design places the radio buttons.
    gbScale->setStyleSheet(QStringLiteral("QGroupBox { border: 1px solid palette(mid); border-radius: 2px; margin-top: 6px; }"
                                          "QGroupBox::title { subcontrol-origin: margin; left: 7px; padding: 0 2px; }"));
    rbFullSize = new QRadioButton(QStringLiteral("&Full Size"), gbScale);
    rbFullSize->setGeometry(8, 16, 113, 17);
    rbHalfSize = new QRadioButton(QStringLiteral("&Half Size"), gbScale);
    rbHalfSize->setGeometry(8, 40, 113, 17);
    rbHalfSize->setChecked(true);
    rbQuarterSize = new QRadioButton(QStringLiteral("&Quarter Size"), gbScale);
    rbQuarterSize->setGeometry(8, 64, 113, 17);
    rbSpecial = new QRadioButton(QStringLiteral("S&pecial"), gbScale);
    rbSpecial->setGeometry(8, 88, 113, 17);

    // Labels end where the edits begin, so a wider font than the design's still fits.
    auto sizeLabel = [this](const QString& text, int top) {
        auto* l = new QLabel(text, gbScale);
        l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        l->setGeometry(2, top - 2, 42, 17);
        return l;
    };
    txtWidth = new QLineEdit(gbScale);
    txtWidth->setGeometry(46, 106, 37, 21);
    txtWidth->setToolTip(QStringLiteral(
        "Enter a width in pixels or a number followed by the '%' sign to choose a percentage to scale to"));
    cboWidthUnits = new QComboBox(gbScale);
    cboWidthUnits->setGeometry(86, 106, 39, 21);
    cboWidthUnits->addItems({QString::fromUtf8(kUnitPixels), QString::fromUtf8(kUnitPercent)});
    lblWidth = sizeLabel(QStringLiteral("&Width:"), 110);
    lblWidth->setBuddy(txtWidth);

    txtHeight = new QLineEdit(gbScale);
    txtHeight->setGeometry(46, 131, 37, 21);
    txtHeight->setToolTip(QStringLiteral(
        "Enter a height in pixels or a number followed by the '%' sign to choose a percentage to scale to"));
    cboHeightUnits = new QComboBox(gbScale);
    cboHeightUnits->setGeometry(86, 131, 39, 21);
    cboHeightUnits->addItems({QString::fromUtf8(kUnitPixels), QString::fromUtf8(kUnitPercent)});
    lblHeight = sizeLabel(QStringLiteral("H&eight:"), 135);
    lblHeight->setBuddy(txtHeight);

    butReprocess = MakeButton(p, QStringLiteral(">> &Reprocess >>"), 20, 224, 105, 25);
    butAdvanced = MakeButton(p, QStringLiteral("A&dvanced Settings"), 20, 270, 105, 25);
    butClearTrays = MakeButton(p, QStringLiteral("&Clear Trays"), 20, 300, 105, 25);
    // "H&elp" would share its letter with "H&eight:"; every letter is used once.
    butHelp = MakeButton(p, QStringLiteral("He&lp"), 13, 336, 57, 25);
    butQuit = MakeButton(p, QStringLiteral("Q&uit"), 77, 336, 57, 25);

    // The design's controls start 4 pixels down; the column starts at the style's top margin
    // like the trays' captions.
    const int dy = SpacingOf(this).Top - 4;
    for (QWidget* c : {static_cast<QWidget*>(Label1), static_cast<QWidget*>(cboRotate), static_cast<QWidget*>(gbScale),
                       static_cast<QWidget*>(butReprocess), static_cast<QWidget*>(butAdvanced),
                       static_cast<QWidget*>(butClearTrays)})
        c->move(c->x(), c->y() + dy);

    connect(rbFullSize, &QRadioButton::toggled, this, [this](bool on) { if (on) rbFullSizeClick(); });
    connect(rbHalfSize, &QRadioButton::toggled, this, [this](bool on) { if (on) rbHalfSizeClick(); });
    connect(rbQuarterSize, &QRadioButton::toggled, this, [this](bool on) { if (on) rbQuarterSizeClick(); });
    connect(rbSpecial, &QRadioButton::toggled, this, [this](bool on) { if (on) rbSpecialClick(); });
    connect(txtWidth, &QLineEdit::textChanged, this, &TfrmMain::txtWidthChange);
    connect(txtHeight, &QLineEdit::textChanged, this, &TfrmMain::txtHeightChange);
    connect(butReprocess, &QPushButton::clicked, this, &TfrmMain::butReprocessClick);
    connect(butAdvanced, &QPushButton::clicked, this, &TfrmMain::butAdvancedClick);
    connect(butClearTrays, &QPushButton::clicked, this, &TfrmMain::butClearTraysClick);
    connect(butHelp, &QPushButton::clicked, this, &TfrmMain::butHelpClick);
    connect(butQuit, &QPushButton::clicked, this, &TfrmMain::butQuitClick);
}


void TfrmMain::LayoutTrayColumn(QWidget* panel, QLabel* label, QListWidget* list, QLabel* detail,
                                QWidget* buttonPanel, QPushButton* button) {
    // The window's outer edges get the style's margins; the side toward the middle column
    // has none, the middle column's own 8 pixels keep the trays off its controls.
    const StyleSpacing sp = SpacingOf(this);
    const bool inTray = panel == pnlIn;
    const int left = inTray ? sp.Left : 0;
    const int right = panel->width() - (inTray ? 0 : sp.Right);
    const int w = std::max(0, right - left), h = panel->height();
    const int labelHeight = label->sizeHint().height();
    label->setGeometry(left, sp.Top, w, labelHeight);
    const int buttonTop = h - sp.Bottom - kButtonHeight;
    buttonPanel->setGeometry(left, buttonTop, w, kButtonHeight);
    button->move((buttonPanel->width() - button->width()) / 2, 0);
    // The summary wraps onto a second line rather than being cut at a narrow width.
    const int detailHeight = std::max(kDetailHeight, detail->heightForWidth(w));
    const int detailTop = buttonTop - sp.Spacing - detailHeight;
    detail->setGeometry(left, detailTop, w, detailHeight);
    const int listTop = sp.Top + labelHeight + sp.Spacing;
    list->setGeometry(left, listTop, w, std::max(0, detailTop - sp.Spacing - listTop));
}

void TfrmMain::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Relayout();
}

void TfrmMain::Relayout() {
    const ColumnGeometry g = ComputeColumns(width(), 0, kProcessWidth);
    pnlIn->setGeometry(0, 0, g.InWidth, height());
    pnlProcess->setGeometry(g.InWidth, 0, kProcessWidth, height());
    pnlOut->setGeometry(pnlProcess->x() + pnlProcess->width(), 0, g.OutWidth, height());
    LayoutTrayColumn(pnlIn, Label2, lvIn, pnlInDetail, pnlInButton, butAddFile);
    LayoutTrayColumn(pnlOut, Label3, lvOut, pnlOutDetail, pnlOutButton, butSelectAll);
    // Help and Quit sit on the bottom row with "Add Files" and "Select All".
    const int bottomRow = pnlInButton->y() + butAddFile->y();
    butHelp->move(butHelp->x(), bottomRow);
    butQuit->move(butQuit->x(), bottomRow);
}

// ---- settings -------------------------------------------------------------------------

void TfrmMain::LoadSettings() {
    LoadedSettings loaded = ::LoadSettings(location_);
    record_ = loaded.Record;
    const ScaleChoice& c = loaded.Controls;
    cboRotate->setCurrentIndex(c.RotationIndex >= 0 && c.RotationIndex < cboRotate->count() ? c.RotationIndex : -1);
    switch (c.Scale) {
    case ScaleMode::FullSize: rbFullSize->setChecked(true); break;
    case ScaleMode::HalfSize: rbHalfSize->setChecked(true); break;
    case ScaleMode::QuarterSize: rbQuarterSize->setChecked(true); break;
    case ScaleMode::Special: rbSpecial->setChecked(true); break;
    }
    {
        // Restored texts are taken as they were saved, not as typing.
        const QSignalBlocker w(txtWidth), h(txtHeight);
        txtWidth->setText(QString::fromStdString(c.WidthText));
        txtHeight->setText(QString::fromStdString(c.HeightText));
    }
    cboWidthUnits->setCurrentIndex(UnitIndex(cboWidthUnits, c.WidthUnits));
    cboHeightUnits->setCurrentIndex(UnitIndex(cboHeightUnits, c.HeightUnits));
    // A value of the wrong type is reported once the window is up; start-up goes on.
    if (!loaded.Errors.empty()) {
        const std::vector<std::string> errors = loaded.Errors;
        QTimer::singleShot(0, this, [this, errors] {
            for (const std::string& e : errors) ShowTopLevelError(this, QString::fromStdString(e));
        });
    }
}

void TfrmMain::SaveSettings() {
    const std::string error = ::SaveSettings(record_, CurrentScaleChoice(), location_);
    if (!error.empty()) ::ShowErrorBox(this, QString::fromStdString(error));
}

ScaleChoice TfrmMain::CurrentScaleChoice() {
    ScaleChoice c;
    c.RotationIndex = cboRotate->currentIndex();
    if (rbFullSize->isChecked())
        c.Scale = ScaleMode::FullSize;
    else if (rbHalfSize->isChecked())
        c.Scale = ScaleMode::HalfSize;
    else if (rbQuarterSize->isChecked())
        c.Scale = ScaleMode::QuarterSize;
    else if (rbSpecial->isChecked())
        c.Scale = ScaleMode::Special;
    c.WidthText = txtWidth->text().toStdString();
    c.HeightText = txtHeight->text().toStdString();
    c.WidthUnits = cboWidthUnits->currentIndex() >= 0 ? cboWidthUnits->currentText().toStdString() : std::string();
    c.HeightUnits = cboHeightUnits->currentIndex() >= 0 ? cboHeightUnits->currentText().toStdString() : std::string();
    return c;
}

// ---- controls -------------------------------------------------------------------------

void TfrmMain::SetSpecialEnabled(bool on) {
    for (QWidget* w : std::initializer_list<QWidget*>{lblWidth, lblHeight, txtWidth, txtHeight, cboWidthUnits,
                                                      cboHeightUnits})
        w->setEnabled(on);
}

void TfrmMain::rbFullSizeClick() { SetSpecialEnabled(false); }
void TfrmMain::rbHalfSizeClick() { SetSpecialEnabled(false); }
void TfrmMain::rbQuarterSizeClick() { SetSpecialEnabled(false); }
void TfrmMain::rbSpecialClick() { SetSpecialEnabled(true); }

void TfrmMain::PercentRule(QLineEdit* edit, QComboBox* units, const QString& text) {
    if (text.isEmpty() || !text.endsWith(u'%')) return;
    units->setCurrentIndex(1);
    edit->setText(text.left(text.size() - 1));
}

void TfrmMain::txtWidthChange(const QString& text) { PercentRule(txtWidth, cboWidthUnits, text); }
void TfrmMain::txtHeightChange(const QString& text) { PercentRule(txtHeight, cboHeightUnits, text); }

void TfrmMain::butQuitClick() { close(); }

void TfrmMain::butHelpClick() {
    if (!frmHelp_) {
        frmHelp_ = std::make_unique<TfrmHelp>(nullptr);
        // Help left open does not keep the program running once the main window closes.
        frmHelp_->setAttribute(Qt::WA_QuitOnClose, false);
    }
    frmHelp_->show();
    frmHelp_->raise();
    frmHelp_->activateWindow();
}

void TfrmMain::butAdvancedClick() {
    if (batchRunning_) return;
    GuardCommand(this, [this] {
        TfrmSettings dialog(this);
        dialog.OnHelp = [this] { butHelpClick(); };
        // Modal to the main window only, so that the help window it may open stays usable.
        dialog.setWindowModality(Qt::WindowModal);
        dialog.SetResampler(record_.Resampler);
        dialog.SetOutputType(record_.OutputType);
        dialog.SetJPEGQuality(record_.JPEGQuality);
        dialog.SetWorkDir(record_.WorkDir);
        dialog.SetUseIntViewer(record_.UseIntViewer);
        dialog.SetAutoOrient(record_.AutoOrient);
        dialog.SetPrefix(record_.Prefix);
        dialog.SetSuffix(record_.Suffix);
        dialog.SetPreserveAspectRatio(record_.PreserveAspectRatio);
        dialog.SetMaxJPEGKB(record_.MaxJPEGKB);
        const int result = RunSettingsDialog ? RunSettingsDialog(dialog) : dialog.exec();
        if (result != QDialog::Accepted) return;
        // Read back in the same order; a quality that is not a number stops here with the
        // fields before it taken and nothing saved.
        record_.Resampler = dialog.Resampler();
        record_.OutputType = dialog.OutputType();
        record_.JPEGQuality = dialog.JPEGQuality();
        record_.WorkDir = dialog.WorkDir();
        record_.UseIntViewer = dialog.UseIntViewer();
        record_.AutoOrient = dialog.AutoOrient();
        record_.Prefix = dialog.Prefix();
        record_.Suffix = dialog.Suffix();
        record_.PreserveAspectRatio = dialog.PreserveAspectRatio();
        record_.MaxJPEGKB = dialog.MaxJPEGKB();
        SaveSettings();
    });
}

void TfrmMain::butAddFileClick() {
    if (batchRunning_) return;
    QStringList files;
    if (ChooseFiles) {
        files = ChooseFiles(this);
    } else {
        const QStringList filters = OpenDialogNameFilters();
        QFileDialog dialog(this, QStringLiteral("Select a file or files to process"));
        dialog.setFileMode(QFileDialog::ExistingFiles);
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setOption(QFileDialog::HideNameFilterDetails, true);
        dialog.setNameFilters(filters);
        if (dialog.exec() == QDialog::Accepted) files = dialog.selectedFiles();
    }
    if (!files.isEmpty()) RunBatch(files);
}

void TfrmMain::butReprocessClick() {
    if (batchRunning_) return;
    // Settings that would fail every file are refused before the trays (and the results the
    // user may still want) are cleared.
    const std::string refusal = BatchRefusal(record_, CurrentScaleChoice());
    if (!refusal.empty()) {
        ShowErrorBox(refusal);
        return;
    }
    std::vector<std::string> sources = model_.Paths(TTray::In);
    QStringList copy;
    for (const std::string& s : sources) copy << QString::fromStdString(s);
    CloseAllViewers();
    ClearTrays();
    RunBatch(copy);
}

void TfrmMain::butClearTraysClick() {
    if (batchRunning_) return;
    CloseAllViewers();
    ClearTrays();
}

void TfrmMain::butSelectAllClick() {
    lvOut->selectAll();
    lvOut->setFocus();
}

void TfrmMain::SetBatchControlsEnabled(bool on) {
    for (QPushButton* b : {butAddFile, butReprocess, butClearTrays, butAdvanced}) b->setEnabled(on);
    actInRemove->setEnabled(on);
    actOutDelete->setEnabled(on);
}

// ---- trays ----------------------------------------------------------------------------

void TfrmMain::ClearTrays() {
    model_.Clear();
    lvIn->clear();
    lvOut->clear();
    UpdateSummary();
}

void TfrmMain::UpdateSummary() {
    const NumberSeparators sep = LocaleSeparators();
    pnlInDetail->setText(QString::fromStdString(model_.SummaryLine(TTray::In, sep)));
    pnlOutDetail->setText(QString::fromStdString(model_.SummaryLine(TTray::Out, sep)));
    Relayout();
}

QString TfrmMain::lvInInfoTip(int index) const {
    if (index < 0 || size_t(index) >= model_.Count(TTray::In)) return {};
    return QString::fromStdString(model_.InfoTip(TTray::In, size_t(index), LocaleSeparators()));
}

QString TfrmMain::lvOutInfoTip(int index) const {
    if (index < 0 || size_t(index) >= model_.Count(TTray::Out)) return {};
    return QString::fromStdString(model_.InfoTip(TTray::Out, size_t(index), LocaleSeparators()));
}

void TfrmMain::OpenPicture(const QString& path) {
    if (record_.UseIntViewer) {
        TfrmViewer::Open(this, path, record_.AutoOrient);
    } else {
        // The user's usual program, in a normal window; a box when there is none.
        shell_->OpenFiles({path});
    }
}

// ---- tray commands --------------------------------------------------------------------

void TfrmMain::BuildTrayMenus() {
    auto action = [this](QListWidget* list, const QString& text, const QKeySequence& key, auto slot) {
        // The key is shown in the menu; the tray's key handler below acts on it, so it works
        // while the tray has the focus and not while a caption is being edited.
        auto* a = new QAction(text, list);
        if (!key.isEmpty()) {
            a->setShortcut(key);
            a->setShortcutContext(Qt::WidgetShortcut);
        }
        connect(a, &QAction::triggered, this, slot);
        return a;
    };
    // Letters are unique within each menu.
    actInCopy = action(lvIn, QStringLiteral("&Copy"), QKeySequence::Copy, [this] { CopySelected(TTray::In); });
    actInOpen = action(lvIn, QStringLiteral("&Open With Default Program"), {},
                       [this] { OpenSelectedWithDefaultProgram(TTray::In); });
    actInShow = action(lvIn, QStringLiteral("Show in &Folder"), {}, [this] { ShowSelectedInFolder(TTray::In); });
    actInRemove = action(lvIn, QStringLiteral("&Remove from Tray"), QKeySequence::Delete,
                         [this] { RemoveSelected(TTray::In); });
    mnuIn = new QMenu(this);
    mnuIn->addActions({actInCopy, actInOpen, actInShow});
    mnuIn->addSeparator();
    mnuIn->addAction(actInRemove);

    actOutCopy = action(lvOut, QStringLiteral("&Copy"), QKeySequence::Copy, [this] { CopySelected(TTray::Out); });
    actOutOpen = action(lvOut, QStringLiteral("&Open With Default Program"), {},
                        [this] { OpenSelectedWithDefaultProgram(TTray::Out); });
    actOutShow = action(lvOut, QStringLiteral("Show in &Folder"), {}, [this] { ShowSelectedInFolder(TTray::Out); });
    actOutRename = action(lvOut, QStringLiteral("Re&name"), QKeySequence(Qt::Key_F2), [this] {
        if (QListWidgetItem* item = lvOut->currentItem()) lvOut->editItem(item);
    });
    actOutDelete = action(lvOut, QStringLiteral("&Delete"), QKeySequence::Delete, [this] { RemoveSelected(TTray::Out); });
    mnuOut = new QMenu(this);
    mnuOut->addActions({actOutCopy, actOutOpen, actOutShow, actOutRename});
    mnuOut->addSeparator();
    mnuOut->addAction(actOutDelete);

    for (TTray tray : {TTray::In, TTray::Out}) {
        static_cast<TTrayListView*>(TrayList(tray))->KeyHandler = [this, tray](QKeyEvent* e) {
            for (QAction* a : TrayMenu(tray)->actions())
                if (!a->shortcut().isEmpty() &&
                    QKeySequence(e->keyCombination()) == a->shortcut()) {
                    if (a->isEnabled()) a->trigger();
                    return true;
                }
            return false;
        };
        QListWidget* list = TrayList(tray);
        list->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(list, &QWidget::customContextMenuRequested, this, [this, tray, list](QPoint at) {
            // A click on an unselected item acts on that item, as in a file manager.
            if (QListWidgetItem* item = list->itemAt(at); item && !item->isSelected()) {
                list->clearSelection();
                item->setSelected(true);
                list->setCurrentItem(item);
            }
            const bool any = !SelectedRows(tray).empty();
            for (QAction* a : TrayMenu(tray)->actions())
                if (!a->isSeparator()) a->setEnabled(any && !((a == actInRemove || a == actOutDelete) && batchRunning_));
            if (tray == TTray::Out) actOutRename->setEnabled(SelectedRows(tray).size() == 1);
            TrayMenu(tray)->popup(list->viewport()->mapToGlobal(at));
        });
        // The menu greys what does not apply; the keys work again once it is gone.
        connect(TrayMenu(tray), &QMenu::aboutToHide, this, [this, tray] {
            for (QAction* a : TrayMenu(tray)->actions()) a->setEnabled(true);
            SetBatchControlsEnabled(!batchRunning_);
        });
    }
}

void TfrmMain::BuildShortcuts() {
    const std::pair<QKeySequence, void (TfrmMain::*)()> keys[] = {
        {QKeySequence(Qt::Key_F1), &TfrmMain::butHelpClick},
        {QKeySequence(Qt::CTRL | Qt::Key_O), &TfrmMain::butAddFileClick},
        {QKeySequence(Qt::CTRL | Qt::Key_Q), &TfrmMain::butQuitClick},
    };
    for (const auto& [key, slot] : keys) connect(new QShortcut(key, this), &QShortcut::activated, this, slot);
}

QListWidget* TfrmMain::TrayList(TTray tray) const {
    return tray == TTray::In ? static_cast<QListWidget*>(lvIn) : static_cast<QListWidget*>(lvOut);
}

std::vector<size_t> TfrmMain::SelectedRows(TTray tray) const {
    QListWidget* list = TrayList(tray);
    std::vector<size_t> rows;
    for (int row = 0; row < list->count() && size_t(row) < model_.Count(tray); ++row)
        if (list->item(row)->isSelected()) rows.push_back(size_t(row));
    return rows;
}

std::vector<std::string> TfrmMain::SelectedFiles(TTray tray) const {
    const std::vector<size_t> rows = SelectedRows(tray);
    if (tray == TTray::Out) return model_.WrittenResults(rows);
    std::vector<std::string> paths;
    for (size_t row : rows) paths.push_back(model_.Entries(TTray::In)[row].Path);
    return paths;
}

void TfrmMain::RemoveSelected(TTray tray) {
    // A batch adds and finishes entries by name; the trays stay as they are until it ends.
    if (batchRunning_) return;
    QListWidget* list = TrayList(tray);
    const std::vector<size_t> removed = model_.Remove(tray, SelectedRows(tray));
    for (size_t row : removed) delete list->takeItem(int(row));
    if (!removed.empty() && list->count() > 0) {
        // The entry after the last removed one (or the new last) becomes current, so Delete
        // can be pressed on.
        const int next = std::min(int(removed.back()), list->count() - 1);
        list->setCurrentItem(list->item(next), QItemSelectionModel::ClearAndSelect);
    }
    UpdateSummary();
}

std::unique_ptr<QMimeData> TfrmMain::ClipboardData(TTray tray) const {
    const std::vector<std::string> files = SelectedFiles(tray);
    if (files.empty()) return nullptr;
    auto data = std::make_unique<QMimeData>();
    QList<QUrl> urls;
    QByteArray gnome("copy");
    for (const std::string& f : files) {
        const QUrl url = QUrl::fromLocalFile(QString::fromStdString(f));
        urls << url;
        gnome += '\n' + url.toEncoded();
    }
    data->setUrls(urls);
    data->setData(QStringLiteral("x-special/gnome-copied-files"), gnome);
    if (tray == TTray::Out && files.size() == 1) {
        // The picture itself for programs that paste pictures, not files. A result that can no
        // longer be read still goes as a file.
        try {
            TPicture picture;
            picture.LoadPictureFile(files[0]);
            if (picture.Graphic()) {
                const QImage image = BitmapToQImage(*PictureToBitmap(*picture.Graphic()));
                QByteArray png;
                QBuffer buffer(&png);
                buffer.open(QIODevice::WriteOnly);
                if (image.save(&buffer, "PNG")) data->setData(QStringLiteral("image/png"), png);
            }
        } catch (const std::exception&) {
        }
    }
    return data;
}

void TfrmMain::CopySelected(TTray tray) {
    std::unique_ptr<QMimeData> data = ClipboardData(tray);
    if (data) QGuiApplication::clipboard()->setMimeData(data.release());
}

void TfrmMain::OpenSelectedWithDefaultProgram(TTray tray) {
    QStringList paths;
    for (const std::string& f : SelectedFiles(tray)) paths << QString::fromStdString(f);
    shell_->OpenFiles(paths);
}

void TfrmMain::ShowSelectedInFolder(TTray tray) {
    QStringList paths;
    for (const std::string& f : SelectedFiles(tray)) paths << QString::fromStdString(f);
    shell_->ShowInFolder(paths);
}

void TfrmMain::lvOutEdited(QListWidgetItem* item) {
    const int row = lvOut->row(item);
    if (row < 0 || size_t(row) >= model_.Count(TTray::Out)) return;
    const std::string current = ExtractFileName(model_.Entries(TTray::Out)[size_t(row)].Path);
    const std::string typed = item->text().toStdString();
    if (typed == current) return;
    const std::string error = model_.RenameResult(size_t(row), typed);
    if (!error.empty()) {
        // The caption goes back to the file's real name.
        const QSignalBlocker block(lvOut);
        item->setText(QString::fromStdString(current));
        ShowErrorBox(error);
    }
}

void TfrmMain::OpenSelected(QListWidget* list, TTray tray) {
    GuardCommand(this, [&] {
        const std::vector<std::string> paths = model_.Paths(tray);
        for (int row = 0; row < list->count() && size_t(row) < paths.size(); ++row)
            if (list->item(row)->isSelected()) OpenPicture(QString::fromStdString(paths[size_t(row)]));
    });
}

void TfrmMain::lvInDblClick() { OpenSelected(lvIn, TTray::In); }
void TfrmMain::lvOutDblClick() { OpenSelected(lvOut, TTray::Out); }

// ---- drag and drop --------------------------------------------------------------------

void TfrmMain::dtInDrop() {
    // Copy the list and return at once: the dragging program is released before any
    // picture is read.
    pendingDrops_.push_back(dtIn->Files());
    QCoreApplication::postEvent(this, new QEvent(QEvent::Type(kDropMessage)));
}

void TfrmMain::OpenFiles(const QStringList& files) {
    if (closing_) return;
    if (isMinimized()) setWindowState(windowState() & ~Qt::WindowMinimized);
    raise();
    activateWindow();
    if (files.isEmpty()) return;
    pendingDrops_.push_back(files);
    QCoreApplication::postEvent(this, new QEvent(QEvent::Type(kDropMessage)));
}

bool TfrmMain::event(QEvent* event) {
    if (event->type() == QEvent::Type(kDropMessage)) {
        ProcessPendingDrops();
        return true;
    }
    return QWidget::event(event);
}

void TfrmMain::ProcessPendingDrops() {
    // A drop that arrives during a batch waits for it: the batch's end posts the message
    // again.
    if (batchRunning_) return;
    // Files handed over by a second "imbrix" can arrive while a dialog of ours is open (a
    // drop cannot): they wait until it is closed, so no batch runs under it.
    if (QApplication::activeModalWidget()) {
        if (!pendingDrops_.empty() && !closing_)
            QTimer::singleShot(250, this, [this] { ProcessPendingDrops(); });
        return;
    }
    while (!pendingDrops_.empty() && !closing_) {
        const QStringList next = pendingDrops_.front();
        pendingDrops_.pop_front();
        RunBatch(next);
    }
}

void TfrmMain::lvOutMouseDown(QPoint position) { mouseDownPos_ = position; }

bool TfrmMain::lvOutMouseMove(Qt::MouseButtons buttons, QPoint position) {
    if (dragInProgress_) return false;
    if (!(buttons & (Qt::LeftButton | Qt::RightButton))) return false;
    if (!DragThresholdReached(mouseDownPos_, position)) return false;
    std::vector<size_t> selected;
    for (int row = 0; row < lvOut->count(); ++row)
        if (lvOut->item(row)->isSelected()) selected.push_back(size_t(row));
    dsOut->Files.clear();
    for (const std::string& path : model_.WrittenResults(selected)) dsOut->Files << QString::fromStdString(path);
    if (dsOut->Files.isEmpty()) return false;
    dragInProgress_ = true;
    dsOut->Execute(lvOut);
    dragInProgress_ = false;
    return true;
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event) {
    const bool in = watched == lvIn->viewport();
    const bool out = watched == lvOut->viewport();
    if (!in && !out) return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::ToolTip: {
        auto* help = static_cast<QHelpEvent*>(event);
        QListWidget* list = in ? static_cast<QListWidget*>(lvIn) : lvOut;
        QListWidgetItem* item = list->itemAt(help->pos());
        const QString tip = item ? (in ? lvInInfoTip(list->row(item)) : lvOutInfoTip(list->row(item))) : QString();
        if (tip.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), tip, list->viewport(), list->visualItemRect(item));
        return true;
    }
    case QEvent::MouseButtonPress:
        if (out) lvOutMouseDown(static_cast<QMouseEvent*>(event)->position().toPoint());
        return false;
    case QEvent::MouseMove:
        if (out) {
            auto* m = static_cast<QMouseEvent*>(event);
            return lvOutMouseMove(m->buttons(), m->position().toPoint());
        }
        return false;
    default:
        return false;
    }
}

// ---- batches --------------------------------------------------------------------------

void TfrmMain::RunBatch(const QStringList& paths) {
    if (batchRunning_ || closing_) {
        if (!closing_) {
            pendingDrops_.push_back(paths);
        }
        return;
    }
    std::vector<std::string> list;
    list.reserve(size_t(paths.size()));
    for (const QString& p : paths) list.push_back(p.toStdString());
    // The per-user default folder is made on first use; a folder the user chose is theirs
    // to make (the settings dialog offers to).
    if (record_.WorkDir == DefaultWorkDir()) {
        const std::string problem = MakeWorkDir(record_.WorkDir);
        if (!problem.empty()) {
            ShowErrorBox("Couldn't create the working folder " + record_.WorkDir + ": " + problem);
            return;
        }
    }
    batchRunning_ = true;
    SetBatchControlsEnabled(false);
    GuardCommand(this, [&] { ProcessFiles(*this, list); });
    batchRunning_ = false;
    SetBatchControlsEnabled(true);
    // The progress dialog took the focus; it goes back to the tray the files went into.
    if (!closing_) lvIn->setFocus(Qt::OtherFocusReason);
    if (!pendingDrops_.empty() && !closing_)
        QCoreApplication::postEvent(this, new QEvent(QEvent::Type(kDropMessage)));
}

void TfrmMain::BeginBatch(int64_t stepCount) {
    progress_ = std::make_unique<TfrmProcess>(this);
    progress_->SetMin(0);
    progress_->SetMax(int(std::min<int64_t>(stepCount, std::numeric_limits<int>::max())));
    progress_->SetStep(1);
    progress_->SetFileName(QString());
    progress_->show();
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

void TfrmMain::SetProgressFileName(const std::string& path) {
    if (progress_) progress_->SetFileName(QString::fromStdString(path));
}

void TfrmMain::StepProgress() {
    if (progress_) progress_->StepProgress();
}

bool TfrmMain::Cancelled() { return closing_ || (progress_ && progress_->Cancelled()); }

void TfrmMain::EndBatch() {
    if (progress_) {
        progress_->close();
        progress_.reset();
    }
    QApplication::restoreOverrideCursor();
    UpdateSummary();
}

void TfrmMain::AddToTray(TTray tray, const std::string& path, const TpicData& data, TBitmap thumbnail) {
    QListWidget* list = tray == TTray::In ? static_cast<QListWidget*>(lvIn) : lvOut;
    // A thumbnail made for a HiDPI screen is shown at 64 x 48 with its device pixels.
    QPixmap pixmap = QPixmap::fromImage(ThumbnailImage(thumbnail));
    if (thumbnail.Width() > kThumbnailWidth) pixmap.setDevicePixelRatio(double(thumbnail.Width()) / kThumbnailWidth);
    auto* item = new QListWidgetItem(QIcon(pixmap), QString::fromStdString(ExtractFileName(path)));
    item->setFlags(tray == TTray::Out ? item->flags() | Qt::ItemIsEditable : item->flags() & ~Qt::ItemIsEditable);
    model_.Add(tray, path, data, std::move(thumbnail));
    list->addItem(item);
}

void TfrmMain::ResultWritten(const std::string& path, const FileIdentity& identity) { model_.MarkWritten(path, identity); }

void TfrmMain::RemoveFromTray(TTray tray, const std::string& path) {
    QListWidget* list = tray == TTray::In ? static_cast<QListWidget*>(lvIn) : lvOut;
    const long row = model_.RemoveLast(tray, path);
    if (row >= 0 && row < list->count()) delete list->takeItem(int(row));
}

void TfrmMain::MarkNotConverted(const std::string& path, const std::string& reason) {
    model_.MarkNotConverted(path, reason);
    // The caption says so too, greyed, so a glance finds what Reprocess would try again.
    const std::vector<TrayEntry>& entries = model_.Entries(TTray::In);
    for (size_t i = entries.size(); i-- > 0;)
        if (entries[i].Path == path) {
            if (QListWidgetItem* item = lvIn->item(int(i))) item->setForeground(palette().color(QPalette::Disabled, QPalette::Text));
            break;
        }
}

void TfrmMain::SizeLimitApplied(const std::string& path, const SizeLimitOutcome& outcome) {
    model_.SetNote(path, SizeLimitNote(outcome));
}

ThumbnailCell TfrmMain::ThumbnailSize() { return ThumbnailCellFor(devicePixelRatioF()); }

void TfrmMain::RestorePlaces() {
    const StoredWindowPlaces places = LoadWindowPlaces(location_);
    if (!places.MainWindow.isEmpty()) restoreGeometry(places.MainWindow);
    TfrmViewer::RememberedPlacement() = {places.ViewerPosition, places.ViewerSize};
}

void TfrmMain::SavePlaces() {
    StoredWindowPlaces places;
    places.MainWindow = saveGeometry();
    places.ViewerPosition = TfrmViewer::RememberedPlacement().Position;
    places.ViewerSize = TfrmViewer::RememberedPlacement().Size;
    SaveWindowPlaces(places, location_);
}

void TfrmMain::ShowErrorBox(const std::string& text) { ::ShowErrorBox(this, QString::fromStdString(text)); }
void TfrmMain::ShowWarningBox(const std::string& text) { ::ShowWarningBox(this, QString::fromStdString(text)); }

// ---- closing --------------------------------------------------------------------------

void TfrmMain::closeEvent(QCloseEvent* event) {
    // Closing during a batch stops it after the file in hand. Drops still queued are dropped,
    // also when no batch runs yet: a drop posted just before the close must not start one.
    closing_ = true;
    pendingDrops_.clear();
    SaveSettings();
    // Viewers close first, so that the last one's place is kept too.
    CloseAllViewers();
    SavePlaces();
    event->accept();
}
