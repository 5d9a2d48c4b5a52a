#pragma once
// The printer table's model: one row per printer of TBPrinters' list, in list order, with the
// model picture, identity, status texts, firmware version, lifetime counter, colour tables and the
// USB serial-number setting. It keeps no list of its own: every row is read from the controller,
// whose row signals it passes on as the model's; a printer's change announcements
// (propertyChanged) refresh the row it holds at that moment. A printer restarting during its update keeps
// its row, whose status cells say so (phase, time since it left); the controller refreshes it.
//
// Threads: [main] for every member.

#include <QAbstractTableModel>
#include <QHash>
#include <QList>
#include <QPixmap>

#include "app/TBPrinters.h"

class PrinterTableModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column {
    Picture,
    Manufacturer,
    Model,
    SerialNumber,
    PrinterStatus,
    UsbStatus,
    FirmwareVersion,
    LifetimeCounter,
    ColorTables,
    UsbSerial,
    ColumnCount
  };
  static constexpr int kPictureSize = 40;

  explicit PrinterTableModel(TBPrinters* controller, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

  TBPrinters::PrinterRef printerAt(int row) const;
  std::optional<TBPrinters::Restart> restartAt(int row) const { return controller_->restartAt(row); }

  // The bar of the status cell while the row's printer is in an update: which phase runs, and how
  // far (the colour tables written while they are, else the middle of the phase). nullopt when no
  // update runs.
  struct UpdateBar {
    int phase = 0;
    int done = 0;
    int total = 0;
    QString text;
  };
  std::optional<UpdateBar> updateBarAt(int row) const;

 private:
  // Refreshes the row when its printer announces a change. [main]
  void watch(int row);
  // The status cells of a row whose printer restarts during its update.
  static QString restartText(const TBPrinters::Restart& restart, int column, int role);
  void printerPropertyChanged();
  QVariant display(const TBUSBPrinterOLM& printer, int column) const;
  QString usbStatus(const TBUSBPrinterOLM& printer) const;
  QVariant toolTip(const TBUSBPrinterOLM& printer, int column) const;
  QPixmap picture(const TBUSBPrinterOLM& printer) const;
  // The installed version and how it stands to the one shipped for the model.
  QString firmware(TBUSBPrinterOLM& printer) const;
  // A text the printer layers store in English, in the user's language.
  static QString translated(const QString& text);

  TBPrinters* controller_;
  mutable QHash<int, QPixmap> pictures_;  // by model (-1: none)
  // The firmware shipped for each product ID, looked up once (it authenticates the archive).
  mutable QHash<uint16_t, QString> shippedFirmware_;
};
