#include "app/PrinterTableModel.h"

#include <QLocale>

#include "app/ColorTableSummary.h"
#include "app/PrinterPicture.h"
#include "app/UpdatePhase.h"
#include "olm/model/ModelTraits.h"
#include "olm/printer/TBUSBPrinterOLM.h"
#include "olm/update/FirmwareArchive.h"
#include "support/MainQueue.h"
#include "support/PrinterNaming.h"
#include "usb/UsbPermission.h"

namespace {
// A reading as the row shows it: the value, or "unknown" for one asked for that did not come.
QString shownValue(const TBUSBPrinterOLM& printer, const QString& key) {
  const pm::DeviceInfo& info = *printer.deviceInfoDict();
  return TBUSBPrinterOLM::isUnread(info, key) ? pm::PrinterNaming::unknown() : info.string(key);
}
}  // namespace

PrinterTableModel::PrinterTableModel(TBPrinters* controller, QObject* parent)
    : QAbstractTableModel(parent), controller_(controller) {
  Q_ASSERT(pm::isMainQueue());
  // The controller changes its list between each pair of signals, as Qt expects of a model's
  // own data: the rows are never counted or read from anything but the controller.
  connect(controller_, &TBPrinters::printerAboutToBeInserted, this,
          [this](int row) { beginInsertRows({}, row, row); });
  connect(controller_, &TBPrinters::printerInserted, this, [this](int row) {
    watch(row);
    endInsertRows();
  });
  connect(controller_, &TBPrinters::printerAboutToBeRemoved, this,
          [this](int row) { beginRemoveRows({}, row, row); });
  connect(controller_, &TBPrinters::printerRemoved, this, [this] { endRemoveRows(); });
  connect(controller_, &TBPrinters::printersAboutToBeReset, this, [this] { beginResetModel(); });
  connect(controller_, &TBPrinters::printersReset, this, [this] {
    for (int row = 0; row < controller_->count(); ++row) watch(row);
    endResetModel();
  });
  connect(controller_, &TBPrinters::printerChanged, this, [this](int row) {
    // The row may hold a new object now: the printer back from its restart.
    watch(row);
    emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
  });
  // A model made after printers were listed starts with them.
  for (int row = 0; row < controller_->count(); ++row) watch(row);
}

// ---- Rows ----------------------------------------------------------------------------------------

void PrinterTableModel::watch(int row) {
  if (const TBPrinters::PrinterRef printer = controller_->printerAt(row))
    connect(printer.get(), &TBUSBPrinter::propertyChanged, this, &PrinterTableModel::printerPropertyChanged,
            Qt::UniqueConnection);
}

void PrinterTableModel::printerPropertyChanged() {
  // A printer no longer listed (it left, or a new object took its row) may still announce.
  const int row = controller_->rowOf(qobject_cast<const TBUSBPrinter*>(sender()));
  if (row >= 0) emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
}

TBPrinters::PrinterRef PrinterTableModel::printerAt(int row) const { return controller_->printerAt(row); }

std::optional<PrinterTableModel::UpdateBar> PrinterTableModel::updateBarAt(int row) const {
  const TBPrinters::PrinterRef printer = printerAt(row);
  if (!printer) return std::nullopt;
  const std::optional<TBPrinters::Restart> restart = restartAt(row);
  const int phase = restart ? restart->phase : pm::updatePhase(*printer);
  if (phase == 0) return std::nullopt;
  using Unit = pm::PrinterUpdate::StepProgress::Unit;
  if (const auto step = printer->update().stepProgress(); step && !restart && step->total > 0) {
    if (step->unit == Unit::Tables && phase == pm::kUpdatePhaseCount)
      return UpdateBar{phase, int(step->done), int(step->total),
                       tr("%1 of %2 tables").arg(step->done).arg(step->total)};
    if (step->unit == Unit::Bytes && phase == 2) {
      // In thousandths: a progress bar counts in int, an image may not fit.
      const QLocale locale;
      return UpdateBar{phase, int(step->done * 1000 / step->total), 1000,
                       tr("%1 of %2 sent")
                           .arg(locale.formattedDataSize(step->done), locale.formattedDataSize(step->total))};
    }
  }
  return UpdateBar{phase, 2 * phase - 1, 2 * pm::kUpdatePhaseCount, pm::updatePhaseText(phase)};
}

// ---- Cells ---------------------------------------------------------------------------------------

int PrinterTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : controller_->count();
}

int PrinterTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : ColumnCount;
}

QVariant PrinterTableModel::data(const QModelIndex& index, int role) const {
  Q_ASSERT(pm::isMainQueue());
  const TBPrinters::PrinterRef printer = printerAt(index.row());
  if (!printer) return {};
  // A row state of the controller's replaces the status cells' texts (a printer restarting during
  // its update; further states belong beside it).
  if (const std::optional<TBPrinters::Restart> restart = controller_->restartAt(index.row());
      restart && (index.column() == PrinterStatus || index.column() == UsbStatus) &&
      (role == Qt::DisplayRole || role == Qt::AccessibleTextRole || role == Qt::ToolTipRole))
    return restartText(*restart, index.column(), role);
  switch (role) {
    case Qt::DisplayRole:
      return index.column() == FirmwareVersion ? QVariant(firmware(*printer))
                                               : display(*printer, index.column());
    case Qt::AccessibleTextRole:
      // The picture cell is read out as the model it shows.
      return index.column() == Picture ? display(*printer, Model) : display(*printer, index.column());
    case Qt::DecorationRole:
      return index.column() == Picture ? QVariant(picture(*printer)) : QVariant();
    case Qt::ToolTipRole:
      return toolTip(*printer, index.column());
    case Qt::TextAlignmentRole:
      return index.column() == LifetimeCounter ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                                               : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
  }
  return {};
}

QVariant PrinterTableModel::display(const TBUSBPrinterOLM& printer, int column) const {
  switch (column) {
    case Manufacturer: {
      const QString manufacturer = printer.manufacturer();
      return manufacturer.isEmpty() ? printer.vendorUSB() : manufacturer;
    }
    case Model: {
      const QString model = printer.model();
      if (!model.isEmpty()) return model;
      const QString product = printer.productUSB();
      if (!product.isEmpty()) return product;
      // Without permission to open the device neither its strings nor its device ID can be
      // read; the product ID still names the model.
      const std::optional<pm::PrinterModel> known = pm::modelForProductId(printer.productID());
      return known ? pm::modelName(*known) : QString();
    }
    case SerialNumber: {
      const QString serial = printer.printerSerialNumber();
      if (!serial.isEmpty()) return serial;
      const QString usbSerial = printer.serialNumberUSB();
      return usbSerial.isEmpty() ? shownValue(printer, QStringLiteral("printerSerialNumber")) : usbSerial;
    }
    case PrinterStatus:
      return translated(printer.printerStatus());
    case UsbStatus:
      return usbStatus(printer);
    case FirmwareVersion:
      return shownValue(printer, QStringLiteral("firmwareVersion"));
    case LifetimeCounter:
      return shownValue(printer, QStringLiteral("lifetimeCounter"));
    case ColorTables:
      return pm::ColorTableSummary::fromDeviceInfo(printer.deviceInfoDict()->snapshot()).compact();
    case UsbSerial:
      return translated(printer.properties().usbISerialString());
  }
  return {};
}

QString PrinterTableModel::restartText(const TBPrinters::Restart& restart, int column, int role) {
  if (column == UsbStatus) return tr("Restarting");
  QString text = tr("Restarting: %1, %2 s. Do not unplug it or switch it off.")
                     .arg(pm::updatePhaseText(restart.phase))
                     .arg(restart.elapsedMs / 1000);
  if (role != Qt::ToolTipRole) return text;
  return text + u'\n' + tr("The printer restarts during its firmware update and returns by itself.");
}

QString PrinterTableModel::usbStatus(const TBUSBPrinterOLM& printer) const {
  const QString status = printer.status();
  if (!status.isEmpty()) return translated(status);
  // Linux reports no other program's opens and closes, so the interest messages that set this
  // text rarely come; until one does, the connection state tells the same.
  switch (printer.state()) {
    case TBUSBPrinterStateOpen:
      return tr("USB Open");
    case TBUSBPrinterStateClosed:
    case TBUSBPrinterStateProbed:
      return tr("USB Available");
    default:
      return {};
  }
}

QString PrinterTableModel::translated(const QString& text) {
  // The English texts are what other layers compare and log; only the cell changes language.
  // (The printer's own status words as TBUSBPrinterOLM::stringForKTStatusString names them.)
  static const char* const kTexts[] = {QT_TR_NOOP("In use by other application"),
                                       QT_TR_NOOP("Enabled"),
                                       QT_TR_NOOP("Disabled"),
                                       QT_TR_NOOP("Unavailable"),
                                       QT_TR_NOOP("Updating colour tables ..."),
                                       QT_TR_NOOP("Updating firmware ..."),
                                       QT_TR_NOOP("Writing firmware ..."),
                                       QT_TR_NOOP("OK"),
                                       QT_TR_NOOP("Firmware Update Mode"),
                                       QT_TR_NOOP("Idle"),
                                       QT_TR_NOOP("Printing"),
                                       QT_TR_NOOP("Head cool down cycle"),
                                       QT_TR_NOOP("Motor cool down cycle"),
                                       QT_TR_NOOP("Sleeping (standby mode)"),
                                       QT_TR_NOOP("Cover Open"),
                                       QT_TR_NOOP("Scrap Box Missing"),
                                       QT_TR_NOOP("Paper End"),
                                       QT_TR_NOOP("Ribbon End"),
                                       QT_TR_NOOP("Paper Jam"),
                                       QT_TR_NOOP("Ribbon Error"),
                                       QT_TR_NOOP("Wrong Paper"),
                                       QT_TR_NOOP("Bad Data"),
                                       QT_TR_NOOP("Head Voltage Error"),
                                       QT_TR_NOOP("Head Position Error"),
                                       QT_TR_NOOP("Power supply Error"),
                                       QT_TR_NOOP("Cutter Error"),
                                       QT_TR_NOOP("Pinch Roller Error"),
                                       QT_TR_NOOP("Head Temp High Error"),
                                       QT_TR_NOOP("Media Temp Error"),
                                       QT_TR_NOOP("Motor Temp Error"),
                                       QT_TR_NOOP("Ribbon Tension Error"),
                                       QT_TR_NOOP("RFID Module Error"),
                                       QT_TR_NOOP("System Fail Error"),
                                       QT_TR_NOOP("Unknown Status")};
  if (pm::PrinterNaming::isUnread(text) && !text.isEmpty()) return pm::PrinterNaming::unknown();
  for (const char* known : kTexts)
    if (text == QLatin1String(known)) return tr(known);
  return text;
}

QString PrinterTableModel::firmware(TBUSBPrinterOLM& printer) const {
  QString installed = shownValue(printer, QStringLiteral("firmwareVersion"));
  const double have = printer.installedFirmwareVersion();
  if (have <= 0.0) return installed;
  auto shipped = shippedFirmware_.constFind(printer.productID());
  if (shipped == shippedFirmware_.constEnd())
    shipped = shippedFirmware_.insert(printer.productID(), printer.update().newFirmwareVersion());
  const std::optional<pm::ShippedFirmware> stands =
      pm::compareShippedFirmware(have, pm::firmwareVersionNumber(*shipped));
  if (!stands) return installed;
  switch (*stands) {
    case pm::ShippedFirmware::Same:
      return tr("%1 (up to date)").arg(installed);
    case pm::ShippedFirmware::Newer:
      return tr("%1 (%2 available)").arg(installed, *shipped);
    case pm::ShippedFirmware::Older:
      return tr("%1 (newer than %2)").arg(installed, *shipped);
  }
  return installed;
}

QVariant PrinterTableModel::toolTip(const TBUSBPrinterOLM& printer, int column) const {
  if ((column == UsbStatus || column == PrinterStatus) &&
      (printer.status() == pm::noPermissionText() || printer.printerStatus() == pm::noPermissionText()))
    return pm::noPermissionAdvice();
  switch (column) {
    case ColorTables: {
      const pm::ColorTableSummary summary =
          pm::ColorTableSummary::fromDeviceInfo(printer.deviceInfoDict()->snapshot());
      return summary.isEmpty() ? QVariant() : QVariant(summary.details());
    }
    case Picture:
    case Manufacturer:
    case Model:
      return printer.printerName();
    default:
      return {};
  }
}

QPixmap PrinterTableModel::picture(const TBUSBPrinterOLM& printer) const {
  // The picture is the model's: one per model (and one for none), however many come and go.
  const std::optional<pm::PrinterModel> model = printer.printerModel();
  const int key = model ? static_cast<int>(*model) : -1;
  auto cached = pictures_.constFind(key);
  if (cached != pictures_.constEnd()) return *cached;
  QPixmap pixmap = pm::printerPicture(printer.image(), kPictureSize);
  pictures_.insert(key, pixmap);
  return pixmap;
}

QVariant PrinterTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  switch (section) {
    case Picture:
      return tr("Printer");
    case Manufacturer:
      return tr("Manufacturer");
    case Model:
      return tr("Model");
    case SerialNumber:
      return tr("Serial Number");
    case PrinterStatus:
      return tr("Status");
    case UsbStatus:
      return tr("USB Status");
    case FirmwareVersion:
      return tr("Firmware");
    case LifetimeCounter:
      return tr("Lifetime Counter");
    case ColorTables:
      return tr("Colour Tables");
    case UsbSerial:
      return tr("USB Serial Number");
  }
  return {};
}
