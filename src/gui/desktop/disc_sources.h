#pragma once
// Discs a folder chooser cannot pick: images (an "Open Disc Image..." file
// chooser needs their filter) and the optical drives of the computer (for
// a menu of drives to open).

#include <QList>
#include <QString>

namespace zembra {
class StringTable;
}

namespace zembra::gui {

// "Disc Images (*.iso *.ISO *.img *.IMG ...)" for a QFileDialog. Its
// patterns match case-sensitively on Linux, so both spellings are listed:
// images copied from other systems are often named in capitals.
QString discImageNameFilter(const StringTable& strings);

struct OpticalDrive {
    QString device;  // "/dev/sr0": what Open DVD takes
    QString name;    // vendor and model as the drive reports them, or the device's name
    bool hasDisc;    // a medium is in the drive
};

// The optical drives (sr0, sr1, ...) in device order, as the kernel lists
// them under `sysRoot`/block; their nodes are `devRoot`/srN.
QList<OpticalDrive> opticalDrives(const QString& sysRoot = QStringLiteral("/sys"),
                                  const QString& devRoot = QStringLiteral("/dev"));

}  // namespace zembra::gui
