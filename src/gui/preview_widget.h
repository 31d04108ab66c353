#pragma once
// The picture area of the main window: the logo while the list is empty,
// then the preview frames the controller hands over, either the output
// picture (scaled to fit, smoothly) or the source view of the Custom zoom
// (the frame stretched into its band, the rest hatched, the crop rectangle
// and its label over it).

#include <QImage>
#include <QWidget>
#include <functional>

#include "app/main_view.h"

namespace zembra::gui {

// The frame's planes as an RGB picture, top row first (empty when the
// planes are shorter than their size says).
QImage previewImage(const PreviewImage& image);

class PreviewWidget : public QWidget {
    Q_OBJECT
public:
    explicit PreviewWidget(QWidget* parent = nullptr);

    void showFrame(const PreviewFrame& frame);
    void showLogo();
    bool showsLogo() const { return logo_; }
    const QImage& picture() const { return picture_; }
    const PreviewFrame& frame() const { return frame_; }
    // Told the size of the picture area when it changes (the source view
    // is laid out for it).
    void setAreaListener(std::function<void(int, int)> listener) { areaListener_ = listener; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;

private:
    void paintLogo(QPainter& painter);
    void paintDestination(QPainter& painter);
    void paintSourceView(QPainter& painter);

    bool logo_ = true;
    PreviewFrame frame_;
    QImage picture_;
    std::function<void(int, int)> areaListener_;
};

}  // namespace zembra::gui
