#pragma once
// The picture shown for a printer: its model picture scaled into a square, or a drawn printer
// when the model has none among the resources. [main]

#include <QImage>
#include <QPixmap>

namespace pm {

QPixmap printerPicture(const QImage& modelPicture, int size);

}  // namespace pm
