#include "display/wflabel.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

wfLabel::wfLabel(QWidget *owner, const QImage *image, const int *offset, int targetX, int targetY, Mode mode,
                 QWidget *parent)
    : QLabel(parent ? parent : owner), owner_(owner), image_(image), offset_(offset ? offset : &ownOffset_),
      x_(targetX), y_(targetY), scaled_(mode == Scaled ? 1 : 0), whole_(mode == WholeImage ? 1 : 0)
{
}

QRect wfLabel::sourceRect() const
{
    if (!image_)
        return QRect();
    int w = 1680;
    int h = 1024;
    if (whole_) {
        w = image_->width();
        h = image_->height();
    } else if (scaled_) {
        w = 2 * image_->width();
        h = int(image_->height() * 1.4);
    }
    return QRect(0, *offset_, w, h);
}

void wfLabel::paintEvent(QPaintEvent *)
{
    if (!image_ || image_->isNull())
        return;
    QPainter painter(this);
    const QRect target(x_, y_, width(), height());
    painter.drawImage(target, *image_, sourceRect());
}

QSize wfLabel::sizeHint() const
{
    // A whole small picture (the thresholds panel's scale) asks for its own
    // size; the waterfall's labels ask for half the screen's width and its
    // full height.
    if (whole_ && image_)
        return image_->size();
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return QLabel::sizeHint();
    const QRect avail = screen->availableGeometry();
    return QSize(avail.width() / 2, avail.height());
}

QSize wfLabel::minimumSizeHint() const
{
    if (whole_ && image_)
        return image_->size() / 2;
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return QLabel::minimumSizeHint();
    const QRect avail = screen->availableGeometry();
    return QSize(avail.width() / 4, avail.height() / 3);
}
