#include "dialogs/viewer.h"

#include "app/core/working_bitmap.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QLabel>
#include <QScrollBar>
#include <algorithm>

#include "dialogs/bitmap_image.h"
#include "graphics/picture.h"
#include "graphics/picture_to_bitmap.h"

namespace {
std::vector<TfrmViewer*>& Viewers() {
    static std::vector<TfrmViewer*> viewers;
    return viewers;
}
void Forget(TfrmViewer* viewer) {
    auto& v = Viewers();
    v.erase(std::remove(v.begin(), v.end(), viewer), v.end());
}
}  // namespace

const std::vector<TfrmViewer*>& ViewerList() { return Viewers(); }

void CloseAllViewers() {
    // Each close removes its own entry; walk a copy from the newest.
    const std::vector<TfrmViewer*> open = Viewers();
    for (auto it = open.rbegin(); it != open.rend(); ++it) (*it)->close();
}

TfrmViewer* TfrmViewer::Open(QWidget* owner, const QString& path, bool autoOrient) {
    const std::string file = path.toStdString();
    TPicture picture;
    picture.LoadPictureFile(file);
    QImage image;
    if (picture.Graphic()) {
        // Shown as the batch will use it: in sRGB and upright.
        std::unique_ptr<TBitmap> bitmap = WorkingBitmap(*picture.Graphic(), UprightOptions{autoOrient}, file);
        image = BitmapToQImage(*bitmap);
    }
    auto* viewer = new TfrmViewer(owner, QFileInfo(QString::fromStdString(file)).fileName(), image);
    viewer->show();
    return viewer;
}

TfrmViewer::TfrmViewer(QWidget* owner, const QString& caption, const QImage& image)
    : QScrollArea(owner), pictureSize_(image.size()) {
    setWindowFlags(Qt::Window);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(caption);
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(false);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    horizontalScrollBar()->setTracking(true);
    verticalScrollBar()->setTracking(true);
    imgImage = new QLabel;
    imgImage->setPixmap(QPixmap::fromImage(image));
    imgImage->resize(image.size());
    setWidget(imgImage);
    resize(kDesignClientWidth, kDesignClientHeight);
    Viewers().push_back(this);
}

TfrmViewer::~TfrmViewer() { Forget(this); }

void TfrmViewer::showEvent(QShowEvent* event) {
    QScrollArea::showEvent(event);
    if (fitted_) return;
    fitted_ = true;
    // A picture smaller than the window (frame and caption included, as the design size is
    // meant) gets a window that just holds it, so one 635 pixels wide is not scrolled.
    int w = width(), h = height();
    if (pictureSize_.width() < w + kFrameWidth) w = pictureSize_.width();
    if (pictureSize_.height() < h + kCaptionHeight) h = pictureSize_.height();
    // Room for the one scroll bar that a long or a wide picture needs, so that it does not
    // bring the other one along.
    if (pictureSize_.height() > h && w == pictureSize_.width()) w += verticalScrollBar()->sizeHint().width();
    if (pictureSize_.width() > w && h == pictureSize_.height()) h += horizontalScrollBar()->sizeHint().height();
    resize(std::max(w, 1), std::max(h, 1));
}

void TfrmViewer::closeEvent(QCloseEvent* event) {
    Forget(this);
    QScrollArea::closeEvent(event);
}
