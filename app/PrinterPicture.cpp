#include "app/PrinterPicture.h"

#include <QDir>
#include <QFileInfo>
#include <QPainter>

#include "support/MainQueue.h"
#include "support/Resources.h"

namespace pm {

namespace {

// A dye-sublimation printer seen from the front: body, paper slot and a print coming out.
QPixmap drawnPrinter(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  const qreal s = size;
  painter.setPen(QPen(QColor(0x4a, 0x55, 0x60), s / 40.0));
  painter.setBrush(QColor(0xe8, 0xec, 0xf0));
  painter.drawRoundedRect(QRectF(s * 0.08, s * 0.30, s * 0.84, s * 0.42), s * 0.06, s * 0.06);
  painter.setBrush(QColor(0x4a, 0x55, 0x60));
  painter.drawRect(QRectF(s * 0.22, s * 0.58, s * 0.56, s * 0.04));
  painter.setBrush(Qt::white);
  painter.drawRect(QRectF(s * 0.28, s * 0.60, s * 0.44, s * 0.30));
  QLinearGradient photo(QPointF(s * 0.31, s * 0.64), QPointF(s * 0.69, s * 0.86));
  photo.setColorAt(0, QColor(0x5b, 0x9b, 0xd5));
  photo.setColorAt(1, QColor(0xf4, 0xb1, 0x83));
  painter.setPen(Qt::NoPen);
  painter.setBrush(photo);
  painter.drawRect(QRectF(s * 0.31, s * 0.64, s * 0.38, s * 0.22));
  painter.setBrush(QColor(0x3c, 0xb3, 0x71));
  painter.drawEllipse(QPointF(s * 0.80, s * 0.40), s * 0.035, s * 0.035);
  return pixmap;
}

}  // namespace

QPixmap printerPicture(const QImage& modelPicture, int size) {
  Q_ASSERT(isMainQueue());
  if (modelPicture.isNull()) return drawnPrinter(size);
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  const QImage scaled = modelPicture.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  QPainter painter(&pixmap);
  painter.drawImage((size - scaled.width()) / 2, (size - scaled.height()) / 2, scaled);
  return pixmap;
}

}  // namespace pm

namespace pm {

QIcon applicationIcon() {
  QIcon icon = QIcon::fromTheme(QStringLiteral("printer-maintenance"));
  if (!icon.isNull()) return icon;
  const QDir resources(resourceDirectory());
  for (const QString& base :
       {QStringLiteral("../icons/hicolor"), QStringLiteral("../packaging/icons/hicolor")}) {
    for (const int size : {48, 64, 128, 256}) {
      const QString file =
          resources.filePath(QStringLiteral("%1/%2x%2/apps/printer-maintenance.png").arg(base).arg(size));
      if (QFileInfo::exists(file)) icon.addFile(file, QSize(size, size));
    }
    if (!icon.isNull()) break;
  }
  return icon;
}

}  // namespace pm
