#include "gui/preview_widget.h"

#include <QPainter>
#include <QResizeEvent>

#include "decoder/colour_convert.h"
#include "gui/desktop/app_icon.h"
#include "gui/qt_text.h"

namespace zembra::gui {

QImage previewImage(const PreviewImage& image) {
    const int w = image.width, h = image.height;
    if (w <= 0 || h <= 0) return {};
    const size_t chroma = size_t((w + 1) / 2) * size_t((h + 1) / 2);
    if (image.y.size() < size_t(w) * size_t(h) || image.cb.size() < chroma ||
        image.cr.size() < chroma)
        return {};
    // B G R 0 bytes, bottom row first: Qt's RGB32 on a little-endian machine,
    // once the unused byte is opaque and the rows are turned round.
    std::vector<uint8_t> bgr =
        convertToRgb32(image.y.data(), image.cb.data(), image.cr.data(), w, h, 1);
    for (size_t i = 3; i < bgr.size(); i += 4) bgr[i] = 0xff;
    QImage wrapped(bgr.data(), w, h, w * 4, QImage::Format_RGB32);
    return wrapped.mirrored(false, true);
}

PreviewWidget::PreviewWidget(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(200, 150);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

QSize PreviewWidget::sizeHint() const { return {352, 288}; }

void PreviewWidget::showFrame(const PreviewFrame& frame) {
    frame_ = frame;
    picture_ = previewImage(frame.image);
    logo_ = false;
    update();
}

void PreviewWidget::showLogo() {
    logo_ = true;
    frame_ = PreviewFrame{};
    picture_ = QImage();
    update();
}

void PreviewWidget::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (areaListener_) areaListener_(width(), height());
}

void PreviewWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(rect(), palette().color(QPalette::Dark));
    if (logo_ || picture_.isNull())
        paintLogo(painter);
    else if (frame_.sourceView)
        paintSourceView(painter);
    else
        paintDestination(painter);
}

// Until the list has a row: a drawn disc and the program's name.
void PreviewWidget::paintLogo(QPainter& painter) {
    const QRectF area = rect();
    const qreal side = std::min(area.width(), area.height()) * 0.5;
    const QRectF disc(area.center().x() - side / 2, area.center().y() - side / 2 - side * 0.1, side,
                      side);
    QRadialGradient shine(disc.center(), side / 2);
    shine.setColorAt(0, QColor(230, 230, 240));
    shine.setColorAt(1, QColor(140, 150, 175));
    painter.setPen(QPen(QColor(90, 95, 110), 1.5));
    painter.setBrush(shine);
    painter.drawEllipse(disc);
    painter.setBrush(palette().color(QPalette::Dark));
    painter.drawEllipse(disc.center(), side * 0.1, side * 0.1);
    QFont font = painter.font();
    font.setPointSizeF(font.pointSizeF() * 1.6);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(palette().color(QPalette::BrightText));
    const QRectF below(area.left(), disc.bottom() + side * 0.05, area.width(),
                       area.bottom() - disc.bottom());
    painter.drawText(below, Qt::AlignHCenter | Qt::AlignTop, QStringLiteral("Zembra"));
}

void PreviewWidget::paintDestination(QPainter& painter) {
    QSizeF size = picture_.size();
    size.scale(QSizeF(rect().size()), Qt::KeepAspectRatio);
    const QRectF target(QPointF((width() - size.width()) / 2, (height() - size.height()) / 2),
                        size);
    painter.drawImage(target, picture_);
}

void PreviewWidget::paintSourceView(QPainter& painter) {
    const PreviewRect& a = frame_.area;
    const QRectF band(a.left, a.top, a.right - a.left, a.bottom - a.top);
    painter.fillRect(rect(), QBrush(palette().color(QPalette::Mid), Qt::BDiagPattern));
    if (band.width() <= 0 || band.height() <= 0) return;
    painter.drawImage(band, picture_);
    // The crop rectangle in source pixels, mapped into the band.
    const qreal sx = band.width() / picture_.width();
    const qreal sy = band.height() / picture_.height();
    const QRectF crop(band.left() + frame_.cropX1 * sx, band.top() + frame_.cropY1 * sy,
                      (frame_.cropX2 - frame_.cropX1) * sx, (frame_.cropY2 - frame_.cropY1) * sy);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(Qt::red, 1));
    painter.drawRect(crop);
    if (!frame_.label.empty()) {
        painter.setPen(Qt::yellow);
        const QFontMetrics metrics(painter.font());
        painter.drawText(QPointF(15, 15 + metrics.ascent()), qtText(frame_.label));
    }
}

}  // namespace zembra::gui
