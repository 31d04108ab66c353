#include "gui/desktop/app_icon.h"

#include <algorithm>

// The resources of a static library are only linked when something refers
// to them; Q_INIT_RESOURCE must be used outside any namespace.
static void initDesktopResources() { Q_INIT_RESOURCE(zembra_desktop); }

namespace zembra::gui {

namespace {

QIcon builtInIcon() {
    initDesktopResources();
    QIcon icon;
    icon.addFile(QStringLiteral(":/zembra/zembra-48.png"), QSize(48, 48));
    icon.addFile(QStringLiteral(":/zembra/zembra-256.png"), QSize(256, 256));
    return icon;
}

}  // namespace

QIcon appIcon() { return QIcon::fromTheme(QStringLiteral("zembra"), builtInIcon()); }

QPixmap logoPixmap(const QSize& area, qreal devicePixelRatio) {
    const int side = std::min(area.width(), area.height()) / 2;
    if (side <= 0) return {};
    const int logical = std::min(side, 256);
    const qreal ratio = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    const int pixels = qRound(logical * ratio);
    // Scaled down smoothly from the large picture rather than picked by
    // QIcon, whose nearest size may be the small one blown up.
    initDesktopResources();
    QPixmap logo = QPixmap(QStringLiteral(":/zembra/zembra-256.png"))
                       .scaled(pixels, pixels, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    logo.setDevicePixelRatio(ratio);
    return logo;
}

}  // namespace zembra::gui
