#include "app/PrinterTableModel.h"

#include <QLocale>

#include "app/ColorTableSummary.h"
#include "app/PrinterPicture.h"
#include "app/UpdatePhase.h"
#include "support/MainQueue.h"
#include "olm/update/FirmwareArchive.h"
#include "usb/UsbPermission.h"
#include "olm/model/ModelTraits.h"
#include "olm/printer/TBUSBPrinterOLM.h"

PrinterTableModel::PrinterTableModel(TBPrinters* controller, QObject* parent)
    : QAbstractTableModel(parent), controller_(controller) {
  Q_ASSERT(pm::isMainQueue());
  connect(controller_, &TBPrinters::printerAboutToBeInserted, this,
          [this](int row) { beginInsertRows({}, row, row); });
  connect(controller_, &TBPrinters::printerInserted, this, &PrinterTableModel::insertRow);
  connect(controller_, &TBPrinters::printerAboutToBeRemoved, this, &PrinterTableModel::removeRow);
  connect(controller_, &TBPrinters::printerRemoved, this, [this] { endRemoveRows(); });
  connect(controller_, &TBPrinters::printersAboutToBeReset, this, [this] { beginResetModel(); });
  connect(controller_, &TBPrinters::printersReset, this, &PrinterTableModel::reset);
  connect(controller_, &TBPrinters::printerChanged, this, &PrinterTableModel::replaceRow);
  // A model made after printers were listed starts with them.
  for (const TBPrinters::PrinterRef& printer : controller_->printers()) {
    rows_.append(printer);
    connect(printer.get(), &TBUSBPrinter::propertyChanged, this,
            &PrinterTableModel::printerPropertyChanged);
  }
}

// ---- Rows ----------------------------------------------------------------------------------------

void PrinterTableModel::insertRow(int row) {
  const TBPrinters::PrinterRef printer = controller_->printerAt(row);
  Q_ASSERT(printer);
  rows_.insert(row, printer);
  connect(printer.get(), &TBUSBPrinter::propertyChanged, this,
          &PrinterTableModel::printerPropertyChanged);
  endInsertRows();
}

void PrinterTableModel::removeRow(int row) {
  beginRemoveRows({}, row, row);
  const TBPrinters::PrinterRef printer = rows_.takeAt(row);
  disconnect(printer.get(), nullptr, this, nullptr);
  pictures_.remove(printer.get());
}

void PrinterTableModel::replaceRow(int row) {
  const TBPrinters::PrinterRef printer = controller_->printerAt(row);
  if (!printer || row >= rows_.size()) return;
  if (rows_[row] != printer) {
    disconnect(rows_[row].get(), nullptr, this, nullptr);
    pictures_.remove(rows_[row].get());
    rows_[row] = printer;
    connect(printer.get(), &TBUSBPrinter::propertyChanged, this, &PrinterTableModel::printerPropertyChanged);
  }
  emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
}

void PrinterTableModel::reset() {
  for (const TBPrinters::PrinterRef& printer : std::as_const(rows_))
    disconnect(printer.get(), nullptr, this, nullptr);
  rows_ = controller_->printers();
  for (const TBPrinters::PrinterRef& printer : std::as_const(rows_))
    connect(printer.get(), &TBUSBPrinter::propertyChanged, this,
            &PrinterTableModel::printerPropertyChanged);
  pictures_.clear();
  endResetModel();
}

void PrinterTableModel::printerPropertyChanged() {
  const QObject* printer = sender();
  for (int row = 0; row < rows_.size(); ++row) {
    if (rows_[row].get() != printer) continue;
    emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
    return;
  }
}

TBPrinters::PrinterRef PrinterTableModel::printerAt(int row) const {
  return row >= 0 && row < rows_.size() ? rows_[row] : nullptr;
}

std::optional<PrinterTableModel::UpdateBar> PrinterTableModel::updateBarAt(int row) const {
  const TBPrinters::PrinterRef printer = printerAt(row);
  if (!printer) return std::nullopt;
  const std::optional<TBPrinters::Restart> restart = restartAt(row);
  const int phase = restart ? restart->phase : pm::updatePhase(*printer);
  if (phase == 0) return std::nullopt;
  using Unit = TBUSBPrinterOLM::StepProgress::Unit;
  if (const auto step = printer->stepProgress(); step && !restart && step->total > 0) {
    if (step->unit == Unit::Tables && phase == pm::kUpdatePhaseCount)
      return UpdateBar{phase, int(step->done), int(step->total), tr("%1 of %2 tables").arg(step->done).arg(step->total)};
    if (step->unit == Unit::Bytes && phase == 2) {
      // In thousandths: a progress bar counts in int, an image may not fit.
      const QLocale locale;
      return UpdateBar{phase, int(step->done * 1000 / step->total), 1000,
                       tr("%1 of %2 sent").arg(locale.formattedDataSize(step->done), locale.formattedDataSize(step->total))};
    }
  }
  return UpdateBar{phase, 2 * phase - 1, 2 * pm::kUpdatePhaseCount, pm::updatePhaseText(phase)};
}

// ---- Cells ---------------------------------------------------------------------------------------

int PrinterTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int PrinterTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : ColumnCount;
}

QVariant PrinterTableModel::data(const QModelIndex& index, int role) const {
  Q_ASSERT(pm::isMainQueue());
  const TBPrinters::PrinterRef printer = printerAt(index.row());
  if (!printer) return {};
  if (const std::optional<TBPrinters::Restart> restart = controller_->restartAt(index.row());
      restart && (index.column() == PrinterStatus || index.column() == UsbStatus) &&
      (role == Qt::DisplayRole || role == Qt::AccessibleTextRole || role == Qt::ToolTipRole))
    return restartText(*restart, index.column(), role);
  switch (role) {
    case Qt::DisplayRole:
      return index.column() == FirmwareVersion ? QVariant(firmware(*printer)) : display(*printer, index.column());
    case Qt::AccessibleTextRole:
      // The picture cell is read out as the model it shows.
      return index.column() == Picture ? display(*printer, Model) : display(*printer, index.column());
    case Qt::DecorationRole:
      return index.column() == Picture ? QVariant(picture(*printer)) : QVariant();
    case Qt::ToolTipRole:
      return toolTip(*printer, index.column());
    case Qt::TextAlignmentRole:
      return index.column() == LifetimeCounter
                 ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
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
      return serial.isEmpty() ? printer.serialNumberUSB() : serial;
    }
    case PrinterStatus: return translated(printer.printerStatus());
    case UsbStatus: return usbStatus(printer);
    case FirmwareVersion: return printer.firmwareVersion();
    case LifetimeCounter: return printer.lifetimeCounter();
    case ColorTables:
      return pm::ColorTableSummary::fromDeviceInfo(printer.deviceInfoDict()->snapshot()).compact();
    case UsbSerial: return translated(printer.usbISerialString());
  }
  return {};
}

QString PrinterTableModel::restartText(const TBPrinters::Restart& restart, int column, int role) {
  if (column == UsbStatus) return tr("Restarting");
  const QString text = tr("Restarting: %1, %2 s. Do not unplug it or switch it off.")
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
    case TBUSBPrinterStateOpen: return tr("USB Open");
    case TBUSBPrinterStateClosed:
    case TBUSBPrinterStateProbed: return tr("USB Available");
    default: return {};
  }
}

QString PrinterTableModel::translated(const QString& text) {
  // The English texts are what other layers compare and log; only the cell changes language.
  static const char* const kTexts[] = {
      QT_TR_NOOP("In use by other application"), QT_TR_NOOP("Enabled"), QT_TR_NOOP("Disabled"),
      QT_TR_NOOP("Unavailable"), QT_TR_NOOP("Updating color tables ..."), QT_TR_NOOP("Writing firmware ...")};
  for (const char* known : kTexts)
    if (text == QLatin1String(known)) return tr(known);
  return text;
}

QString PrinterTableModel::firmware(TBUSBPrinterOLM& printer) const {
  const QString installed = printer.firmwareVersion();
  const double have = printer.installedFirmwareVersion();
  if (have <= 0.0) return installed;
  auto shipped = shippedFirmware_.constFind(printer.productID());
  if (shipped == shippedFirmware_.constEnd())
    shipped = shippedFirmware_.insert(printer.productID(), printer.newFirmwareVersion());
  const double available = pm::firmwareVersionNumber(*shipped);
  if (available <= 0.0) return installed;
  if (qFuzzyCompare(have, available)) return tr("%1 (up to date)").arg(installed);
  if (have < available) return tr("%1 (%2 available)").arg(installed, *shipped);
  return tr("%1 (newer than %2)").arg(installed, *shipped);
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
      return QString::fromUtf8(printer.descriptionUTF8());
    default:
      return {};
  }
}

QPixmap PrinterTableModel::picture(const TBUSBPrinterOLM& printer) const {
  auto cached = pictures_.constFind(&printer);
  if (cached != pictures_.constEnd()) return *cached;
  const QPixmap pixmap = pm::printerPicture(printer.image(), kPictureSize);
  pictures_.insert(&printer, pixmap);
  return pixmap;
}

QVariant PrinterTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  switch (section) {
    case Picture: return tr("Printer");
    case Manufacturer: return tr("Manufacturer");
    case Model: return tr("Model");
    case SerialNumber: return tr("Serial Number");
    case PrinterStatus: return tr("Status");
    case UsbStatus: return tr("USB Status");
    case FirmwareVersion: return tr("Firmware");
    case LifetimeCounter: return tr("Lifetime Counter");
    case ColorTables: return tr("Colour Tables");
    case UsbSerial: return tr("USB Serial Number");
  }
  return {};
}
