#pragma once
// wfLabel paints a window of an image onto the screen, scaled into the
// label's own rectangle from a target origin:
//   - default mode: a 1680 x 1024 window at a row offset (the waterfall view,
//     which scrolls by moving the offset, never the pixels);
//   - scaled mode: a source window twice the image's width and 1.4 times its
//     height (the flight status overlay drawn over the waterfall);
//   - whole-image mode: the whole image (the thresholds panel's scale).
// Parts of the source window outside the image stay transparent.
#include <QImage>
#include <QLabel>

class wfLabel : public QLabel {
    Q_OBJECT
public:
    enum Mode { Window, Scaled, WholeImage };

    // image and offset are not owned; a null offset uses the label's own
    // offset, which stays 0.
    wfLabel(QWidget *owner, const QImage *image, const int *offset, int targetX, int targetY, Mode mode,
            QWidget *parent = nullptr);

    void setImage(const QImage *image) { image_ = image; }
    const QImage *image() const { return image_; }
    bool scaled() const { return scaled_ != 0; }
    bool wholeImage() const { return whole_ != 0; }
    int targetX() const { return x_; }
    int targetY() const { return y_; }

    // The part of the image this label paints.
    QRect sourceRect() const;

    // Preferred: half the primary screen's available width by its full
    // available height; in whole-image mode the image's size. The picture
    // is scaled into whatever the layout gives, down to the minimum: a
    // quarter of that width by a third of that height, half the image in
    // whole-image mode.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QWidget *owner_;
    const QImage *image_;
    const int *offset_;
    int ownOffset_ = 0;
    int x_;
    int y_;
    unsigned char scaled_;
    unsigned char whole_;
};
