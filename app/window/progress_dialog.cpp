#include "app/window/progress_dialog.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

TfrmProcess::TfrmProcess(QWidget* owner) : QDialog(owner) {
    setWindowTitle(QStringLiteral("Processing Files"));
    setFixedSize(263, 97);
    pbProgress = new QProgressBar(this);
    pbProgress->setGeometry(8, 16, 249, 16);
    pbProgress->setRange(0, 100);
    pbProgress->setValue(0);
    pbProgress->setTextVisible(false);
    lblFilename = new QLabel(this);
    lblFilename->setGeometry(8, 40, 249, 13);
    butCancel = new QPushButton(QStringLiteral("Cancel"), this);
    butCancel->setGeometry(95, 64, 75, 25);
    butCancel->setAutoDefault(false);
    connect(butCancel, &QPushButton::clicked, this, &TfrmProcess::butCancelClick);
    if (owner) {
        // Centred on the owner.
        const QRect o = owner->frameGeometry();
        move(o.center() - QPoint(width() / 2, height() / 2));
    }
}

void TfrmProcess::SetMin(int n) { pbProgress->setMinimum(n); pbProgress->setValue(n); }
void TfrmProcess::SetMax(int n) { pbProgress->setMaximum(n); }
void TfrmProcess::SetStep(int n) { step_ = n; }

QString TfrmProcess::ShortenPath(const QString& text) {
    if (text.size() <= 45) return text;
    return text.left(23) + QStringLiteral("...") + text.right(20);
}

void TfrmProcess::SetFileName(const QString& text) {
    lblFilename->setText(ShortenPath(text));
    lblFilename->setToolTip(text);
    lblFilename->repaint();
}

void TfrmProcess::StepProgress() {
    pbProgress->setValue(std::min(pbProgress->value() + step_, pbProgress->maximum()));
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    // An offscreen session has no stacking order to change (and warns on every try).
    static const bool canRaise = QGuiApplication::platformName() != QStringLiteral("offscreen");
    if (isVisible() && canRaise) raise();
}

void TfrmProcess::butCancelClick() { cancelled_ = true; }

void TfrmProcess::reject() { cancelled_ = true; }

void TfrmProcess::closeEvent(QCloseEvent* event) {
    hide();
    event->accept();
}
