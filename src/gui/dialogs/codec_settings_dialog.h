#pragma once
// The settings of one pass of a video compressor. The compressors have no
// dialogs of their own here, so this form shows the fields a compressor is
// known to take (Xvid: bit rate, quantizer, quality, key-frame interval) and
// hands them to it as "key=value" lines.

#include <QDialog>
#include <cstdint>
#include <string>
#include <vector>

#include "avi/codecs/video_compressor.h"

class QSpinBox;

namespace zembra {
class UiHost;
}

namespace zembra::gui {

class CodecSettingsDialog : public QDialog {
    Q_OBJECT
public:
    // False for a compressor without settings (no form to show).
    static bool hasForm(const avi::CompressorInfo& compressor);

    // `state` is the pass's stored settings (may be empty or another's).
    CodecSettingsDialog(QWidget* parent, const UiHost& host, const avi::CompressorInfo& compressor,
                        const std::vector<uint8_t>& state, int pass);

    // The fields as the compressor reads them, one "key=value" per line.
    std::string keyValues() const;

    QSpinBox *bitrate, *quantizer, *quality, *keyint;
};

}  // namespace zembra::gui
