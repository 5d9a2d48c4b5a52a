#pragma once
// The picture shown for a printer: its model picture scaled into a square, or a drawn printer
// when the model has none among the resources. [main]

#include <QIcon>
#include <QImage>
#include <QPixmap>

namespace pm {

QPixmap printerPicture(const QImage& modelPicture, int size);

// The application's icon: from the icon theme where installed, else from the icon files beside the
// resources (installed: share/icons; the source tree: packaging/icons).
QIcon applicationIcon();

}  // namespace pm
