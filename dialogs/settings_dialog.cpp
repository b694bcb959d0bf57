#include "dialogs/settings_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "app/core/settings_record.h"
#include "app/settings/settings_store.h"
#include "dialogs/message_box.h"
#include "dialogs/folder_browse.h"
#include "graphics/errors.h"
#include "imageops/resample.h"

namespace {
// A right-aligned label ending just before its field, with room on the left for a font
// wider than the reference's. It must not overlap other controls: it would take their clicks.
QLabel* RightLabel(QWidget* parent, const QString& text, int left, int right, int top) {
    auto* label = new QLabel(text, parent);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setGeometry(left, top - 2, right - left, 17);
    return label;
}

std::string WithSlash(const std::string& text) {
    if (!text.empty() && text.back() == '/') return text;
    return text + '/';
}
}  // namespace

TOKBottomDlg::TOKBottomDlg(QWidget* owner) : QDialog(owner) {
    setWindowTitle(QStringLiteral("Dialog"));
    Bevel1 = new QFrame(this);
    Bevel1->setFrameShape(QFrame::Box);
    Bevel1->setFrameShadow(QFrame::Sunken);
    OKBtn = new QPushButton(QStringLiteral("OK"), this);
    OKBtn->setDefault(true);
    CancelBtn = new QPushButton(QStringLiteral("Cancel"), this);
    connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);  // Esc rejects as well
    setFixedSize(313, 214);
}

void TOKBottomDlg::resizeEvent(QResizeEvent*) { PlaceControls(); }

void TOKBottomDlg::PlaceControls() {
    Bevel1->setGeometry(8, 8, 297, 161);
    OKBtn->setGeometry(79, 180, 75, 25);
    CancelBtn->setGeometry(159, 180, 75, 25);
}

namespace {
// The dialog is taller than the reference design by two rows, which hold the name prefix
// and suffix fields and the JPEG size limit.
constexpr int kRow = 30;
// Wider by the room a label font wider than the reference's needs.
constexpr int kShift = 24;
constexpr int kClientWidth = 423 + kShift;
// Two more rows below the described ones: the check box that turns pictures upright and the
// JPEG size limit.
constexpr int kClientHeight = 177 + 3 * kRow;
// The largest limit the field takes, about 2 GB.
constexpr int kMaxJPEGKBField = 2000000;
}  // namespace

TfrmSettings::TfrmSettings(QWidget* owner) : TOKBottomDlg(owner) {
    setWindowTitle(QStringLiteral("Advanced Settings"));

    Label1 = RightLabel(this, QStringLiteral("Output file type:"), 4, 116 + kShift, 20);
    cboOutputType = new QComboBox(this);
    cboOutputType->setGeometry(120 + kShift, 16, 121, 21);
    for (const OutputTypeEntry& row : OutputTypeTable) cboOutputType->addItem(QString::fromUtf8(row.displayName));
    Label1->setBuddy(cboOutputType);

    // The spin box sits further right than the reference's field, which its arrows widen: the
    // label keeps the whole of its text.
    lblJPEGQuality = RightLabel(this, QStringLiteral("JPEG Quality:"), 245 + kShift, 330 + kShift, 20);
    txtJPEGQuality = new QSpinBox(this);
    txtJPEGQuality->setRange(1, 100);
    txtJPEGQuality->setValue(85);
    txtJPEGQuality->setGeometry(334 + kShift, 16, 33 + 12, 21);
    lblJPEGQuality->setBuddy(txtJPEGQuality);

    a = RightLabel(this, QStringLiteral("Resampling Algorithm:"), 4, 116 + kShift, 52);
    cboResampler = new QComboBox(this);
    cboResampler->setGeometry(120 + kShift, 48, 121, 21);
    for (const FilterEntry& row : FilterTable) cboResampler->addItem(QString::fromUtf8(row.displayName));
    a->setBuddy(cboResampler);

    cbAspectRatio = new QCheckBox(QStringLiteral("Preserve Aspect Ratio"), this);
    cbAspectRatio->setGeometry(258 + kShift, 50, 150, 17);
    cbAspectRatio->setChecked(true);

    Label3 = RightLabel(this, QStringLiteral("Working directory:"), 4, 116 + kShift, 82);
    txtWorkDir = new QLineEdit(this);
    txtWorkDir->setGeometry(120 + kShift, 79, 209, 21);
    Label3->setBuddy(txtWorkDir);
    butBrowse = new QPushButton(QStringLiteral("Browse"), this);
    butBrowse->setGeometry(331 + kShift, 79, 75, 21);
    butBrowse->setAutoDefault(false);

    cbUseIntViewer = new QCheckBox(QStringLiteral("Use Internal Viewer"), this);
    cbUseIntViewer->setGeometry(24 + kShift, 112, 150, 17);
    cbUseIntViewer->setChecked(true);
    cbUseIntViewer->setToolTip(
        QStringLiteral("If checked, Imbrix will use a built-in viewer to display images. If unchecked, your normal "
                       "viewing program will be used."));

    lblPrefix = RightLabel(this, QStringLiteral("Name &prefix:"), 4, 116 + kShift, 112 + kRow);
    txtPrefix = new QLineEdit(this);
    txtPrefix->setGeometry(120 + kShift, 109 + kRow, 121, 21);
    txtPrefix->setToolTip(QStringLiteral("Put in front of the name of every result file"));
    lblPrefix->setBuddy(txtPrefix);
    lblSuffix = RightLabel(this, QStringLiteral("Name &suffix:"), 244 + kShift, 324 + kShift, 112 + kRow);
    txtSuffix = new QLineEdit(this);
    txtSuffix->setGeometry(328 + kShift, 109 + kRow, 78, 21);
    txtSuffix->setToolTip(QStringLiteral("Put behind the name of every result file, before its extension"));
    lblSuffix->setBuddy(txtSuffix);

    cbAutoOrient = new QCheckBox(QStringLiteral("Turn pictures upright as the camera recorded"), this);
    cbAutoOrient->setGeometry(24 + kShift, 112 + 2 * kRow, 360, 17);
    cbAutoOrient->setChecked(true);
    cbAutoOrient->setToolTip(
        QStringLiteral("If checked, photos are turned and mirrored as the camera's orientation record says before "
                       "they are resized and rotated. If unchecked, they are used as they are stored."));
    // A sentence with the field inside it: the label as wide as its text, then the field.
    lblMaxJPEGKB = new QLabel(QStringLiteral("&Keep JPEG results under"), this);
    lblMaxJPEGKB->adjustSize();
    lblMaxJPEGKB->setGeometry(24 + kShift, 110 + 3 * kRow, lblMaxJPEGKB->width(), 17);
    txtMaxJPEGKB = new QLineEdit(this);
    const int limitLeft = lblMaxJPEGKB->geometry().right() + 6;
    txtMaxJPEGKB->setGeometry(limitLeft, 109 + 3 * kRow, 61, 21);
    txtMaxJPEGKB->setValidator(new QIntValidator(0, kMaxJPEGKBField, txtMaxJPEGKB));
    txtMaxJPEGKB->setToolTip(
        QStringLiteral("A JPEG result that would be larger is written at the highest quality that fits, down to 10. "
                       "Leave empty for no limit."));
    lblMaxJPEGKB->setBuddy(txtMaxJPEGKB);
    lblMaxJPEGKBUnit = new QLabel(QStringLiteral("KB"), this);
    lblMaxJPEGKBUnit->setGeometry(limitLeft + 65, 110 + 3 * kRow, 30, 17);

    HelpBtn = new QPushButton(QStringLiteral("&Help"), this);
    HelpBtn->setAutoDefault(false);
    OKBtn->setAutoDefault(true);

    connect(cboOutputType, &QComboBox::currentIndexChanged, this, &TfrmSettings::cboOutputTypeChange);
    connect(butBrowse, &QPushButton::clicked, this, &TfrmSettings::butBrowseClick);
    connect(HelpBtn, &QPushButton::clicked, this, &TfrmSettings::HelpBtnClick);

    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    setFixedSize(kClientWidth, kClientHeight);
    PlaceControls();
    if (owner) {
        const QRect o = owner->frameGeometry();
        move(o.center() - QPoint(kClientWidth / 2, kClientHeight / 2));
    }
}

void TfrmSettings::PlaceControls() {
    if (!HelpBtn) return;  // during the base constructor
    const int w = width(), h = height();
    Bevel1->setGeometry(7, 7, w - 14, h - 48);
    OKBtn->setGeometry(w - 245, h - 31, 75, 25);
    CancelBtn->setGeometry(w - 165, h - 31, 75, 25);
    HelpBtn->setGeometry(w - 85, h - 31, 75, 25);
}

void TfrmSettings::SetResampler(int index) { cboResampler->setCurrentIndex(index >= 0 && index < cboResampler->count() ? index : -1); }
int TfrmSettings::Resampler() const { return cboResampler->currentIndex(); }

void TfrmSettings::SetOutputType(int index) {
    // Writing the property is not a change made in the list: the enabling rule stays out.
    const QSignalBlocker quiet(cboOutputType);
    cboOutputType->setCurrentIndex(index >= 0 && index < cboOutputType->count() ? index : -1);
}
int TfrmSettings::OutputType() const { return cboOutputType->currentIndex(); }

// A stored quality outside 1..100 is shown (and accepted) as the nearest valid one.
void TfrmSettings::SetJPEGQuality(int quality) { txtJPEGQuality->setValue(quality); }
int TfrmSettings::JPEGQuality() const { return txtJPEGQuality->value(); }

void TfrmSettings::SetWorkDir(const std::string& folder) { txtWorkDir->setText(QString::fromStdString(WithSlash(folder))); }
std::string TfrmSettings::WorkDir() const {
    const std::string text = txtWorkDir->text().toStdString();
    if (text.empty()) return DefaultWorkDir();
    return WithSlash(text);
}

void TfrmSettings::SetUseIntViewer(bool on) { cbUseIntViewer->setChecked(on); }
bool TfrmSettings::UseIntViewer() const { return cbUseIntViewer->isChecked(); }
void TfrmSettings::SetAutoOrient(bool on) { cbAutoOrient->setChecked(on); }
bool TfrmSettings::AutoOrient() const { return cbAutoOrient->isChecked(); }
void TfrmSettings::SetPrefix(const std::string& text) { txtPrefix->setText(QString::fromStdString(text)); }
std::string TfrmSettings::Prefix() const { return txtPrefix->text().toStdString(); }
void TfrmSettings::SetSuffix(const std::string& text) { txtSuffix->setText(QString::fromStdString(text)); }
std::string TfrmSettings::Suffix() const { return txtSuffix->text().toStdString(); }
void TfrmSettings::SetPreserveAspectRatio(bool on) { cbAspectRatio->setChecked(on); }
bool TfrmSettings::PreserveAspectRatio() const { return cbAspectRatio->isChecked(); }

void TfrmSettings::SetMaxJPEGKB(int kilobytes) {
    txtMaxJPEGKB->setText(kilobytes > 0 ? QString::number(std::min(kilobytes, kMaxJPEGKBField)) : QString());
}
int TfrmSettings::MaxJPEGKB() const { return std::max(0, txtMaxJPEGKB->text().toInt()); }

void TfrmSettings::cboOutputTypeChange(int index) {
    bool jpegPossible = false;
    if (index >= 0 && index < int(OutputTypeTable.size())) {
        const std::string ext = OutputTypeTable[size_t(index)].extension;
        jpegPossible = ext == ".jpg" || ext == ".*";
    }
    for (QWidget* w : std::initializer_list<QWidget*>{lblJPEGQuality, txtJPEGQuality, lblMaxJPEGKB, txtMaxJPEGKB,
                                                      lblMaxJPEGKBUnit})
        w->setEnabled(jpegPossible);
}

void TfrmSettings::butBrowseClick() {
    TFolderBrowse browse(this);
    browse.Directory = txtWorkDir->text();
    browse.Title = QStringLiteral("Select a working directory");
    if (browse.Execute(this)) txtWorkDir->setText(QString::fromStdString(WithSlash(browse.Directory.toStdString())));
}

void TfrmSettings::accept() {
    const std::string folder = WorkDir();
    std::error_code ec;
    // The per-user default is made at the first batch; any other folder is checked here, not
    // at the next drop.
    if (folder != DefaultWorkDir() && !std::filesystem::is_directory(folder, ec)) {
        if (!AskQuestion(this, QStringLiteral("The working folder %1 does not exist. Create it?")
                                   .arg(QString::fromStdString(folder))))
            return;
        const std::string problem = MakeWorkDir(folder);
        if (!problem.empty()) {
            ShowErrorBox(this, QStringLiteral("Couldn't create the working folder %1: %2")
                                   .arg(QString::fromStdString(folder), QString::fromStdString(problem)));
            return;
        }
    }
    QDialog::accept();
}

void TfrmSettings::HelpBtnClick() {
    if (OnHelp) OnHelp();
}
