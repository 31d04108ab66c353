#pragma once
// "Select Audio Codec": every format the audio converters make from the
// 16-bit stereo sound at the output rate, by converter, name and bit rate.

#include <QDialog>
#include <string>
#include <vector>

class QListWidget;

namespace zembra {
class UiHost;
}

namespace zembra::gui {

class AudioFormatDialog : public QDialog {
    Q_OBJECT
public:
    AudioFormatDialog(QWidget* parent, const UiHost& host, int outputRate);

    struct Choice {
        std::string converter;  // the driver's name, as chooseAudioCodec takes it
        int kbps;
    };
    // The entry selected; nothing chosen gives an empty converter name.
    Choice choice() const;

    QListWidget* list;

private:
    std::vector<Choice> choices_;
};

}  // namespace zembra::gui
