#pragma once
// The crop dialog ("Scrop"): the crop rectangle in source pixels, typed into
// four fields or dragged over a picture of the frame. OK checks the
// rectangle; on a refused one the message is shown and the dialog stays open.
//
// Entry point for the main window (Setting > Crop > Edit Coordinate, with a
// source open):
//   bool CropDialog::run(QWidget* parent, UiHost& host, OutputSettings& output,
//                        int sourceWidth, int sourceHeight, const QImage& frame);
// `frame` is the current source frame (may be null). Without a source size
// it shows "Decoder not inited." instead. True when OK stored the
// rectangle as fractions into `output`; the caller then calls settingsChanged()
// and redraws the preview.

#include <QDialog>
#include <QImage>

#include "app/dialogs/crop_dialog.h"

class QPushButton;
class QSpinBox;

namespace zembra::gui {

class CropPicture;

class CropDialog : public QDialog {
    Q_OBJECT
public:
    CropDialog(QWidget* parent, UiHost& host, OutputSettings& output, int sourceWidth,
               int sourceHeight, const QImage& frame);
    static bool run(QWidget* parent, UiHost& host, OutputSettings& output, int sourceWidth,
                    int sourceHeight, const QImage& frame);

    void accept() override;

    QSpinBox *x1, *x2, *y1, *y2;
    QPushButton* defaults;
    CropPicture* picture;

private:
    void showModel();
    void takeFields();
    void fieldsChanged();

    UiHost& host_;
    OutputSettings& output_;
    SCropDlg model_;
};

}  // namespace zembra::gui
