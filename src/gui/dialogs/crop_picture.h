#pragma once
// The crop dialog's picture: the source frame scaled to fit, the crop
// rectangle over it and the rest dimmed. Dragging with the left button draws
// a new rectangle, snapped to the steps the crop takes (4 pixels across, 2 down).

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QWidget>

namespace zembra::gui {

class CropPicture : public QWidget {
    Q_OBJECT
public:
    // frame may be null (nothing decoded yet): a grey area of the source's shape.
    CropPicture(const QImage& frame, int sourceWidth, int sourceHeight, QWidget* parent = nullptr);

    // The rectangle in source pixels (it may reach outside the frame).
    void setCrop(int x1, int y1, int x2, int y2);
    QRect crop() const { return crop_; }
    // Where the frame is drawn in the widget.
    QRect frameArea() const;
    // A widget point as source pixels (not clamped).
    QPoint toSource(const QPoint& widgetPoint) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void cropDragged(int x1, int y1, int x2, int y2);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QRect toWidget(const QRect& source) const;
    void dragTo(const QPoint& widgetPoint);

    QImage frame_;
    int sourceWidth_, sourceHeight_;
    QRect crop_;  // left/top = x1/y1, right/bottom = x2/y2 (exclusive corner as given)
    bool dragging_ = false;
    QPoint dragStart_;  // source pixels
};

}  // namespace zembra::gui
