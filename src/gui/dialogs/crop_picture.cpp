#include "gui/dialogs/crop_picture.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

namespace zembra::gui {

namespace {

constexpr int kMargin = 4;

int snapDown(int value, int step) { return value / step * step; }

}  // namespace

CropPicture::CropPicture(const QImage& frame, int sourceWidth, int sourceHeight, QWidget* parent)
    : QWidget(parent),
      frame_(frame),
      sourceWidth_(std::max(sourceWidth, 1)),
      sourceHeight_(std::max(sourceHeight, 1)) {
    setCursor(Qt::CrossCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

QSize CropPicture::sizeHint() const {
    // Half the source size reads well for DVD frames at any screen scale.
    return QSize(std::clamp(sourceWidth_ / 2, 240, 480), std::clamp(sourceHeight_ / 2, 160, 360)) +
           QSize(2 * kMargin, 2 * kMargin);
}

QSize CropPicture::minimumSizeHint() const {
    // Big enough to aim a drag at the picture's edges.
    const int height = std::clamp(360 * sourceHeight_ / sourceWidth_, 120, 400);
    return QSize(360, height) + QSize(2 * kMargin, 2 * kMargin);
}

void CropPicture::setCrop(int x1, int y1, int x2, int y2) {
    crop_ = QRect(QPoint(x1, y1), QPoint(x2, y2));
    update();
}

QRect CropPicture::frameArea() const {
    const QRect room = rect().adjusted(kMargin, kMargin, -kMargin, -kMargin);
    QSize shown(sourceWidth_, sourceHeight_);
    shown.scale(room.size(), Qt::KeepAspectRatio);
    QRect area(QPoint(0, 0), shown);
    area.moveCenter(room.center());
    return area;
}

QRect CropPicture::toWidget(const QRect& source) const {
    const QRect area = frameArea();
    auto x = [&](int v) {
        return area.left() + int(std::lround(double(v) * area.width() / sourceWidth_));
    };
    auto y = [&](int v) {
        return area.top() + int(std::lround(double(v) * area.height() / sourceHeight_));
    };
    return QRect(QPoint(x(source.left()), y(source.top())),
                 QPoint(x(source.right()), y(source.bottom())));
}

QPoint CropPicture::toSource(const QPoint& p) const {
    const QRect area = frameArea();
    if (area.isEmpty()) return {};
    return QPoint(int(std::lround(double(p.x() - area.left()) * sourceWidth_ / area.width())),
                  int(std::lround(double(p.y() - area.top()) * sourceHeight_ / area.height())));
}

void CropPicture::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRect area = frameArea();
    if (frame_.isNull())
        painter.fillRect(area, QColor(96, 96, 96));
    else
        painter.drawImage(area, frame_);

    // Dim what the crop leaves out, then outline what it keeps.
    const QRect kept = toWidget(crop_).normalized();
    QPainterPath outside;
    outside.addRect(area);
    QPainterPath inside;
    inside.addRect(kept);
    painter.fillPath(outside.subtracted(inside), QColor(0, 0, 0, 140));
    QPen pen(QColor(255, 220, 0), 2, Qt::DashLine);
    painter.setPen(pen);
    painter.drawRect(kept.adjusted(0, 0, -1, -1));
}

void CropPicture::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    dragging_ = true;
    dragStart_ = toSource(event->position().toPoint());
    dragTo(event->position().toPoint());
}

void CropPicture::mouseMoveEvent(QMouseEvent* event) {
    if (dragging_) dragTo(event->position().toPoint());
}

void CropPicture::mouseReleaseEvent(QMouseEvent* event) {
    if (!dragging_ || event->button() != Qt::LeftButton) return QWidget::mouseReleaseEvent(event);
    dragTo(event->position().toPoint());
    dragging_ = false;
}

void CropPicture::dragTo(const QPoint& widgetPoint) {
    const QPoint end = toSource(widgetPoint);
    auto clampX = [&](int v) { return snapDown(std::clamp(v, 0, sourceWidth_), 4); };
    auto clampY = [&](int v) { return snapDown(std::clamp(v, 0, sourceHeight_), 2); };
    const int x1 = clampX(std::min(dragStart_.x(), end.x()));
    const int x2 = clampX(std::max(dragStart_.x(), end.x()));
    const int y1 = clampY(std::min(dragStart_.y(), end.y()));
    const int y2 = clampY(std::max(dragStart_.y(), end.y()));
    setCrop(x1, y1, x2, y2);
    emit cropDragged(x1, y1, x2, y2);
}

}  // namespace zembra::gui
