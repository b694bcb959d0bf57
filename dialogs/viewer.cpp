#include "dialogs/viewer.h"

#include "app/core/working_bitmap.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeySequence>
#include <QLabel>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <algorithm>
#include <cmath>

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

constexpr double kZoomStep = 1.25;
constexpr double kMinZoom = 1.0 / 64;
constexpr double kMaxZoom = 16.0;
// A zoomed copy is made in memory (4 bytes a pixel); it stays at 32 megapixels or less.
constexpr double kMaxZoomedPixels = double(1 << 25);
// What the window manager's frame and caption take beside the client area, as a guess
// before the window is first shown.
constexpr int kFrameAllowanceX = 16, kFrameAllowanceY = 48;
}  // namespace

const std::vector<TfrmViewer*>& ViewerList() { return Viewers(); }

void CloseAllViewers() {
    // Each close removes its own entry; walk a copy from the newest.
    const std::vector<TfrmViewer*> open = Viewers();
    for (auto it = open.rbegin(); it != open.rend(); ++it) (*it)->close();
}

TfrmViewer::Placement& TfrmViewer::RememberedPlacement() {
    static Placement placement;
    return placement;
}

TfrmViewer::Fit TfrmViewer::FitPicture(QSize picture, QSize limit) {
    Fit fit;
    const int pw = std::max(picture.width(), 1), ph = std::max(picture.height(), 1);
    const int lw = std::max(limit.width(), 1), lh = std::max(limit.height(), 1);
    if (pw <= lw && ph <= lh) {
        fit.Window = QSize(pw, ph);
        return fit;
    }
    fit.Zoom = std::min(double(lw) / pw, double(lh) / ph);
    fit.Window = QSize(std::clamp(int(std::lround(pw * fit.Zoom)), 1, lw), std::clamp(int(std::lround(ph * fit.Zoom)), 1, lh));
    return fit;
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
    : QScrollArea(owner), image_(image), caption_(caption), pictureSize_(image.size()) {
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
    fitting_ = true;
    resize(kDesignClientWidth, kDesignClientHeight);
    fitting_ = false;

    for (const QKeySequence& key : {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)})
        connect(new QShortcut(key, this), &QShortcut::activated, this, &QWidget::close);
    // Ctrl+= is Ctrl+plus without Shift on many keyboards. (Each key once: two shortcuts on
    // one key would make it ambiguous, and neither would act.)
    for (const QKeySequence& key : {QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)})
        connect(new QShortcut(key, this), &QShortcut::activated, this, &TfrmViewer::ZoomIn);
    connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Minus), this), &QShortcut::activated, this,
            &TfrmViewer::ZoomOut);
    connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_0), this), &QShortcut::activated, this,
            &TfrmViewer::ActualSize);
    Viewers().push_back(this);
}

TfrmViewer::~TfrmViewer() { Forget(this); }

QSize TfrmViewer::AvailableClientSize() const {
    QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
    if (!s) return {kDesignClientWidth, kDesignClientHeight};
    const QSize avail = s->availableGeometry().size();
    return {std::max(avail.width() - kFrameAllowanceX, 64), std::max(avail.height() - kFrameAllowanceY, 48)};
}

void TfrmViewer::SetZoom(double zoom) {
    if (pictureSize_.isEmpty()) return;
    const double pixels = double(pictureSize_.width()) * pictureSize_.height();
    zoom = std::clamp(zoom, kMinZoom, std::min(kMaxZoom, std::sqrt(kMaxZoomedPixels / pixels)));
    // Steps that land next to 100 % land on it, so zooming back and forth returns there.
    if (std::abs(zoom - 1.0) < 1e-6) zoom = 1.0;
    if (zoom == zoom_ && imgImage->size() != QSize()) return;  // at a bound already
    zoom_ = zoom;
    if (zoom_ == 1.0) {
        imgImage->setPixmap(QPixmap::fromImage(image_));
        imgImage->resize(pictureSize_);
        setWindowTitle(caption_);
        return;
    }
    const QSize size(std::max(1, int(std::lround(pictureSize_.width() * zoom_))),
                     std::max(1, int(std::lround(pictureSize_.height() * zoom_))));
    // Averaged when shrinking; enlarged pixels stay sharp squares, as a viewer should show them.
    const QImage scaled = image_.scaled(size, Qt::IgnoreAspectRatio,
                                        zoom_ < 1.0 ? Qt::SmoothTransformation : Qt::FastTransformation);
    imgImage->setPixmap(QPixmap::fromImage(scaled));
    imgImage->resize(size);
    setWindowTitle(QStringLiteral("%1 (%2 %)").arg(caption_).arg(int(std::lround(zoom_ * 100))));
}

void TfrmViewer::ZoomIn() { SetZoom(zoom_ * kZoomStep); }
void TfrmViewer::ZoomOut() { SetZoom(zoom_ / kZoomStep); }

void TfrmViewer::showEvent(QShowEvent* event) {
    QScrollArea::showEvent(event);
    if (fitted_) return;
    fitted_ = true;
    // The size the user last gave a viewer, else as much of the screen as the picture needs.
    const QSize avail = AvailableClientSize();
    const Placement& remembered = RememberedPlacement();
    const QSize limit = remembered.Size ? remembered.Size->boundedTo(avail) : avail;
    const Fit fit = FitPicture(pictureSize_, limit);
    if (fit.Zoom != 1.0) SetZoom(fit.Zoom);
    int w = fit.Window.width(), h = fit.Window.height();
    // A viewer size the user chose is kept for a picture larger than it.
    if (remembered.Size && fit.Zoom != 1.0) {
        w = std::max(w, limit.width());
        h = std::max(h, limit.height());
    }
    fitting_ = true;
    resize(std::max(w, 1), std::max(h, 1));
    // The first viewer goes where the last one was closed; others are placed by the platform.
    if (remembered.Position && Viewers().size() == 1) {
        const QRect frame(*remembered.Position, size() + QSize(kFrameAllowanceX, kFrameAllowanceY));
        for (QScreen* s : QGuiApplication::screens())
            if (s->availableGeometry().intersects(frame)) {
                move(*remembered.Position);
                break;
            }
    }
    fitting_ = false;
}

void TfrmViewer::resizeEvent(QResizeEvent* event) {
    QScrollArea::resizeEvent(event);
    if (fitted_ && !fitting_ && isVisible()) userSized_ = true;
}

void TfrmViewer::closeEvent(QCloseEvent* event) {
    Placement& remembered = RememberedPlacement();
    remembered.Position = pos();
    if (userSized_) remembered.Size = size();
    Forget(this);
    QScrollArea::closeEvent(event);
}
