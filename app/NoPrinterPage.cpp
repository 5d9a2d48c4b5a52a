#include "app/NoPrinterPage.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "app/PrinterPicture.h"

QString NoPrinterPage::adviceText() const {
  QString advice =
      tr("<p>Printers appear here as soon as they are plugged in. If yours does not, check:</p>"
         "<ul>"
         "<li>the USB cable: firmly plugged in at both ends (try another port or cable);</li>"
         "<li>the power: the printer is switched on and has finished starting up;</li>"
         "<li>the permission: your user may use the printer's USB device (usually granted by "
         "a udev rule for the printer), and no other program holds it.</li>"
         "</ul>");
  if (demoSpec_.isEmpty()) {
    advice +=
        tr("<p>To try this application without a printer, start it in demo mode with "
           "virtual printers:<br><code>PRINTER_MAINTENANCE_SIMULATE=PZA "
           "printer-maintenance</code> &nbsp;(or <code>make demo</code> in the source "
           "tree).</p>");
  } else if (demoAttached_ > 0) {
    // Worded from what happened: the printers are there and join the list once they answered.
    advice += tr("<p>Demo mode is on (PRINTER_MAINTENANCE_SIMULATE=%1) and attached %2 virtual "
                 "printer(s); each appears here as soon as it has answered.</p>")
                  .arg(demoSpec_.toHtmlEscaped())
                  .arg(demoAttached_);
  } else {
    advice += tr("<p>Demo mode is on (PRINTER_MAINTENANCE_SIMULATE=%1), but it attached no "
                 "printer. Try <code>PRINTER_MAINTENANCE_SIMULATE=PZA</code>.</p>")
                  .arg(demoSpec_.toHtmlEscaped());
  }
  if (!demoRefusal_.isEmpty()) advice += QStringLiteral("<p>%1</p>").arg(demoRefusal_.toHtmlEscaped());
  return advice;
}

NoPrinterPage::NoPrinterPage(const QString& demoSpec, QWidget* parent)
    : QWidget(parent), demoSpec_(demoSpec) {
  auto* picture = new QLabel(this);
  picture->setPixmap(pm::printerPicture(QImage(), 96));
  picture->setAlignment(Qt::AlignHCenter);

  auto* headline = new QLabel(tr("No supported printer is connected."), this);
  QFont bigger = headline->font();
  bigger.setPointSizeF(bigger.pointSizeF() * 1.4);
  bigger.setBold(true);
  headline->setFont(bigger);
  headline->setAlignment(Qt::AlignHCenter);

  auto* details = new QLabel(adviceText(), this);
  details_ = details;
  details->setTextFormat(Qt::RichText);
  details->setWordWrap(true);
  details->setTextInteractionFlags(Qt::TextSelectableByMouse);

  // A printer restarts twice during a firmware update; unplugging it then could damage it.
  auto* restartNote =
      new QLabel(tr("<p><b>A printer that is restarting, for example during a firmware update, leaves this "
                    "list for a few seconds and comes back by itself. Do not unplug it or switch it "
                    "off.</b></p>"),
                 this);
  restartNote->setTextFormat(Qt::RichText);
  restartNote->setWordWrap(true);
  restartNote->hide();
  restartNote_ = restartNote;

  // The wrapped labels sit in a column without alignment flags: only then does the layout give
  // them the height their text needs at the column's width (an aligned item gets its size hint,
  // which cuts the wrapped lines off).
  auto* column = new QWidget(this);
  column->setMaximumWidth(680);
  auto* columnLayout = new QVBoxLayout(column);
  columnLayout->addWidget(picture);
  columnLayout->addSpacing(8);
  columnLayout->addWidget(headline);
  headline->setWordWrap(true);
  columnLayout->addSpacing(12);
  columnLayout->addWidget(restartNote);
  columnLayout->addWidget(details);

  auto* row = new QHBoxLayout;
  row->addStretch(1);
  row->addWidget(column, 4);
  row->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->addStretch(1);
  layout->addLayout(row);
  layout->addStretch(2);
}

void NoPrinterPage::setPrinterWasListed(bool listed) { restartNote_->setVisible(listed); }

void NoPrinterPage::setDemoOutcome(int attached, const QString& refusal) {
  demoAttached_ = attached;
  demoRefusal_ = refusal;
  details_->setText(adviceText());
}
