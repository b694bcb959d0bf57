#pragma once
// TfrmViewer: one picture at full size in a window of its own, scrolled when it is larger
// than the window. Any number can be open; the main window closes them all before the
// trays are cleared or reprocessed.
#include <QScrollArea>
#include <QString>
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

    // Client size of a new window: the design's outer size less its frame (11) and caption bar (27).
    static constexpr int kFrameWidth = 11, kCaptionHeight = 27;
    static constexpr int kDesignClientWidth = 640 - kFrameWidth;
    static constexpr int kDesignClientHeight = 480 - kCaptionHeight;

    ~TfrmViewer() override;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    TfrmViewer(QWidget* owner, const QString& caption, const QImage& image);
    QSize pictureSize_;
    bool fitted_ = false;
};

// The open viewer windows, oldest first.
const std::vector<TfrmViewer*>& ViewerList();
// Closes every viewer, newest first.
void CloseAllViewers();
