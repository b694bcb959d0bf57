#pragma once
// TfrmViewer: one picture in a window of its own. Any number can be open; the main window
// closes them all before the trays are cleared or reprocessed. A picture that fits the window
// is shown at full size, a larger one zoomed to fit it; Ctrl+plus and Ctrl+minus zoom, Ctrl+0
// shows 100 %, Escape and Ctrl+W close.
#include <QImage>
#include <QPoint>
#include <QScrollArea>
#include <QSize>
#include <QString>
#include <optional>
#include <vector>

class QLabel;

class TfrmViewer : public QScrollArea {
    Q_OBJECT
public:
    // Loads the file through the picture format table first: a file that cannot be read
    // fails with the reader's error and no window is made. The window is shown. The picture
    // is shown in sRGB and, with autoOrient, upright (the "AutoOrient" setting).
    static TfrmViewer* Open(QWidget* owner, const QString& path, bool autoOrient = true);

    QLabel* imgImage = nullptr;
    const QSize& PictureSize() const { return pictureSize_; }

    // Client size of the design window: 640 x 480 outside less its frame (11) and caption (27).
    static constexpr int kFrameWidth = 11, kCaptionHeight = 27;
    static constexpr int kDesignClientWidth = 640 - kFrameWidth;
    static constexpr int kDesignClientHeight = 480 - kCaptionHeight;

    // Where viewers open, program-wide: the position of the last one closed, and the size the
    // user last gave one (none: a viewer is as large as its picture and the screen allow).
    // The main window loads and saves them with the settings.
    struct Placement {
        std::optional<QPoint> Position;
        std::optional<QSize> Size;
    };
    static Placement& RememberedPlacement();

    // The window's client size and zoom for a picture: the picture at 100 % when it fits
    // within limit, else zoomed down to fit it (as large as the picture's proportions allow).
    struct Fit {
        QSize Window;
        double Zoom = 1.0;
    };
    static Fit FitPicture(QSize picture, QSize limit);

    double Zoom() const { return zoom_; }
    void SetZoom(double zoom);
    void ZoomIn();
    void ZoomOut();
    void ActualSize() { SetZoom(1.0); }

    ~TfrmViewer() override;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    TfrmViewer(QWidget* owner, const QString& caption, const QImage& image);
    QSize AvailableClientSize() const;
    QImage image_;
    QString caption_;
    QSize pictureSize_;
    double zoom_ = 1.0;
    bool fitted_ = false;
    bool fitting_ = false;     // our own resize, not the user's
    bool userSized_ = false;
};

// The open viewer windows, oldest first.
const std::vector<TfrmViewer*>& ViewerList();
// Closes every viewer, newest first.
void CloseAllViewers();
