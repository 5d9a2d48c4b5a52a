#include "app/NoPrinterPage.h"

#include <QLabel>
#include <QVBoxLayout>

#include "app/PrinterPicture.h"

NoPrinterPage::NoPrinterPage(const QString& demoSpec, QWidget* parent) : QWidget(parent) {
  auto* picture = new QLabel(this);
  picture->setPixmap(pm::printerPicture(QImage(), 96));
  picture->setAlignment(Qt::AlignHCenter);

  auto* headline = new QLabel(tr("No supported printer is connected."), this);
  QFont bigger = headline->font();
  bigger.setPointSizeF(bigger.pointSizeF() * 1.4);
  bigger.setBold(true);
  headline->setFont(bigger);
  headline->setAlignment(Qt::AlignHCenter);

  QString advice =
      tr("<p>Printers appear here as soon as they are plugged in. If yours does not:</p>"
         "<ul>"
         "<li>check that the USB cable is firmly connected at both ends, and try another port "
         "or cable;</li>"
         "<li>check that the printer is switched on and has finished starting up;</li>"
         "<li>check that you are allowed to use the printer's USB device (on Linux this usually "
         "takes a udev rule for the printer, or membership of the <i>lp</i> group), and that no "
         "other program holds it.</li>"
         "</ul>");
  if (demoSpec.isEmpty()) {
    advice += tr("<p>To try this application without a printer, start it in demo mode with "
                 "virtual printers:<br><code>PRINTER_MAINTENANCE_SIMULATE=PZA "
                 "printer-maintenance</code> &nbsp;(or <code>make demo</code> in the source "
                 "tree).</p>");
  } else {
    advice += tr("<p>Demo mode is on (PRINTER_MAINTENANCE_SIMULATE=%1), but it attached no "
                 "printer. Try <code>PRINTER_MAINTENANCE_SIMULATE=PZA</code>.</p>")
                  .arg(demoSpec.toHtmlEscaped());
  }
  auto* details = new QLabel(advice, this);
  details->setTextFormat(Qt::RichText);
  details->setWordWrap(true);
  details->setMaximumWidth(620);
  details->setTextInteractionFlags(Qt::TextSelectableByMouse);

  auto* layout = new QVBoxLayout(this);
  layout->addStretch(1);
  layout->addWidget(picture, 0, Qt::AlignHCenter);
  layout->addSpacing(8);
  layout->addWidget(headline, 0, Qt::AlignHCenter);
  layout->addSpacing(12);
  layout->addWidget(details, 0, Qt::AlignHCenter);
  layout->addStretch(2);
}
