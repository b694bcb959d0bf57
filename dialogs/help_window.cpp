#include "dialogs/help_window.h"

#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QTextEdit>

namespace {
// Design size of the client area: 608 x 543 outside with a 4-pixel frame and a caption bar.
constexpr int kClientWidth = 600;
constexpr int kClientHeight = 516;
constexpr int kPanelHeight = 41;

const char* const kHelpParagraphs[] = {
    "Imbrix 1.2beta",
    "Imbrix makes quick, temporary copies of pictures that are smaller, rotated, or both. "
    "It is free software: you may use it and pass it on to others at no charge, as long as "
    "it is passed on whole and unchanged.",
    "This help is brief. It covers the main ideas; the rest is best found by trying.",
    "Updates are distributed the same way as this copy; look for newer versions where you "
    "obtained it.",
    "HOW IT WORKS",
    "Drop pictures into the \"In\" tray on the left. Imbrix converts each one with the "
    "current settings and puts the result into the \"Out\" tray on the right. Drag the "
    "results out of the \"Out\" tray to wherever you need them.",
    "The results are temporary copies, meant for mailing or uploading. They are written to "
    "the working directory and deleted again when you clear the trays, reprocess, or quit "
    "Imbrix. Your original pictures are never modified.",
    "You can drop pictures from a file manager or from other applications, or add them with "
    "the \"Add Files\" button. Results can be dragged into a mail program, an upload form, or "
    "a folder if you want to keep a permanent copy.",
    "Imbrix can rotate pictures, resize them, or do both at once. Changed settings apply to "
    "pictures dropped afterwards; the pictures already in the \"Out\" tray stay as they "
    "are. Press \">> Reprocess >>\" to convert everything in the \"In\" tray again with "
    "the new settings.",
    "Many picture formats can be read, among them JPEG, GIF, TIFF, PNG, PSD, Targa, PCX and "
    "Windows bitmaps. Results are written as JPEG, GIF or Windows bitmap files, chosen in "
    "the Advanced Settings.",
    "KNOWN LIMITATIONS",
    "- Dropping a folder gives an error; Imbrix does not offer to convert the pictures inside "
    "it.",
    "- Animated GIF files are not handled specially.",
    "HINTS",
    "- Double-click a thumbnail in either tray to see the picture at full size. The "
    "built-in viewer is used unless \"Use Internal Viewer\" is unchecked in the Advanced "
    "Settings dialog; then your usual picture program opens it.",
    "- Rest the mouse on a thumbnail to see the file name, the picture size and the file "
    "size.",
    "- In the Special size fields, type a number followed by % to scale by a percentage.",
    "- Phone photos are turned upright as the camera recorded before they are resized and "
    "rotated, and pictures with a colour profile are converted to sRGB. Uncheck \"Turn "
    "pictures upright as the camera recorded\" in the Advanced Settings to use pictures as "
    "they are stored.",
    "- Right-click a thumbnail to copy the file (Ctrl+C; paste it into a mail or chat "
    "program or a folder), to open it with your usual program, to show it in its folder, or "
    "to remove it from the tray (Delete). Removing a result from the \"Out\" tray deletes "
    "its file.",
    "- Rename a result with F2: its file in the working directory is renamed too, so the "
    "mail program receives it under the new name.",
    "- The viewer fits a large picture to the screen. Ctrl+plus and Ctrl+minus zoom, Ctrl+0 "
    "shows 100 %, Escape or Ctrl+W closes it.",
    "- Keys of the main window: Ctrl+O adds files, F1 shows this help, Ctrl+Q quits.",
    "ACKNOWLEDGEMENTS",
    "Imbrix uses the JPEG library of the Independent JPEG Group and the zlib compression "
    "library, and thanks everyone who documented the many picture file formats it reads.",
};
}  // namespace

QString TfrmHelp::HelpText() {
    QStringList lines;
    for (const char* p : kHelpParagraphs) lines << QString::fromUtf8(p);
    return lines.join(QStringLiteral("\n\n"));
}

TfrmHelp::TfrmHelp(QWidget* owner) : QWidget(owner, Qt::Window) {
    setWindowTitle(QStringLiteral("Imbrix Help"));
    resize(kClientWidth, kClientHeight);
    RichEdit1 = new QTextEdit(this);
    RichEdit1->setReadOnly(true);
    RichEdit1->setAcceptRichText(false);
    RichEdit1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    RichEdit1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QFont font = RichEdit1->font();
    font.setPixelSize(13);
    RichEdit1->setFont(font);
    RichEdit1->setPlainText(HelpText());
    Panel1 = new QWidget(this);
    butClose = new QPushButton(QStringLiteral("Close"), Panel1);
    connect(butClose, &QPushButton::clicked, this, &TfrmHelp::butCloseClick);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect s = screen->availableGeometry();
        move(s.center() - QPoint(kClientWidth / 2, kClientHeight / 2));
    }
    resizeEvent(nullptr);
    for (const QKeySequence& key : {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)})
        connect(new QShortcut(key, this), &QShortcut::activated, this, &TfrmHelp::butCloseClick);
}

void TfrmHelp::resizeEvent(QResizeEvent*) {
    RichEdit1->setGeometry(0, 0, width(), std::max(0, height() - kPanelHeight));
    Panel1->setGeometry(0, std::max(0, height() - kPanelHeight), width(), kPanelHeight);
    // Anchored left and right: keeps its margins and widens with the window.
    butClose->setGeometry(208, 8, std::max(40, width() - kClientWidth + 180), 25);
}

void TfrmHelp::butCloseClick() { close(); }
