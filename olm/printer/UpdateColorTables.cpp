// pm::PrinterUpdate: the colour-table update of phase 3: "TBL_CL" once, then each table of the
// archive as its version name and its data, then the displayed tables refreshed once. The tables
// are the bytes read and checked when the update started; a table the printer reports with
// another version afterwards was not taken, and the phase is no success (the printer's tables
// were erased by "TBL_CL").

#include <QThread>

#include "olm/printer/PrinterUpdate.h"
#include "olm/printer/TBUSBPrinterOLM.h"
#include "olm/update/FirmwareArchive.h"
#include "olm/update/UpdateJournal.h"
#include "support/SystemLog.h"

using pm::framing::Command;

namespace {

// The slot a table file is written to and the version it brings: "PZA_SD_300_0100.cwd" is table
// 300 for SD media at version "0100". nullopt when the name tells no single slot of these tables
// (a model that reads its tables as one set has no version per table to read back).
struct TableTarget {
  pm::TableKey key;
  QString version;
};

QString mediaCode(pm::TableMedia media) {
  switch (media) {
    case pm::TableMedia::SD:
      return QStringLiteral("SD");
    case pm::TableMedia::PD:
      return QStringLiteral("PD");
    case pm::TableMedia::PP:
      return QStringLiteral("PP");
    case pm::TableMedia::None:
      break;
  }
  return {};
}

std::optional<TableTarget> tableTarget(std::span<const pm::ColorTableSlot> tableSlots,
                                       const QString& fileName) {
  const QStringList parts = fileName.section(QLatin1Char('.'), 0, 0).split(QLatin1Char('_'));
  if (parts.size() < 3) return std::nullopt;
  bool numbered = false;
  const int number = parts.at(parts.size() - 2).toInt(&numbered);
  const QString media = parts.size() >= 4 ? parts.at(parts.size() - 3).toUpper() : QString();
  std::optional<TableTarget> target;
  for (const pm::ColorTableSlot& slot : tableSlots) {
    if (!numbered || slot.number != number || mediaCode(slot.media) != media) continue;
    if (target) return std::nullopt;
    target = TableTarget{slot.key, parts.last()};
  }
  return target;
}

// A table is taken when the printer reports its 4-digit version, or the version name it was sent
// (some models report that); other texts name another version. Printers differ in how they say it,
// so anything that holds the version counts.
bool reportsTable(const QString& reported, const QString& fileName, const QString& version) {
  return reported.contains(version) || reported.trimmed().compare(fileName, Qt::CaseInsensitive) == 0;
}

}  // namespace

// Every table is written first and judged once, at the end: a printer busy storing a table may
// answer a version read late, and one refusal must not leave the tables after it erased.
void pm::PrinterUpdate::updateColorTables(TablesCompletion completion) {
  auto printer = printer_.self();
  printer_.openInterface([printer, completion = std::move(completion)](IOReturn result) {
    const auto finish = [&](bool written, const QString& problem) {
      printer->update().setStepProgress(std::nullopt);
      if (!written) pm::systemLog(QStringLiteral("color tables not written: %1").arg(problem));
      if (completion) completion(written, problem);
    };
    if (result != kIOReturnSuccess) {
      printer->update().showUpdateOpenFailedAlert(UpdateStep::ColorTables, result);
      return finish(false, tr("The printer could not be opened."));
    }
    QString problem;
    const std::shared_ptr<const pm::LoadedArchive> archive = printer->update().archiveForUpdate(&problem);
    if (!archive) return finish(false, problem);
    std::optional<pm::UpdateRecord> record = printer->update().updateRecord();
    if (record) {
      ++record->tableRounds;
      pm::UpdateJournal::put(*record);
    }

    printer->update().waitForPrinterStatusCode(QStringLiteral("00000"));
    printer->update().setOverridePrinterStatus(QStringLiteral("Updating colour tables ..."));
    printer->sendPrinterCommand(Command::TableClear);
    bool delivered = printer->writeStatus() == kIOReturnSuccess;

    const qint64 total = archive->tables.size();
    printer->update().setStepProgress(StepProgress{StepProgress::Unit::Tables, 0, total});
    for (qsizetype i = 0; delivered && i < archive->tables.size(); ++i) {
      const QString& name = archive->fileNames.at(i + 1);
      const QByteArray& data = archive->tables.at(i);
      pm::systemLogf("got data of length %lu for file at path %s", static_cast<unsigned long>(data.size()),
                     qUtf8Printable(name));
      printer->sendPrinterCommand(Command::TableVersionName,
                                  pm::FirmwareArchive::paddedData(name.toUpper().toLatin1()));
      delivered = printer->writeStatus() == kIOReturnSuccess;
      if (delivered) printer->sendPrinterCommand(Command::TableData, data);
      delivered = delivered && printer->writeStatus() == kIOReturnSuccess;
      if (delivered && record) {
        record->tablesToWrite.removeAll(name);
        pm::UpdateJournal::put(*record);
      }
      if (delivered)
        printer->update().setStepProgress(StepProgress{StepProgress::Unit::Tables, i + 1, total});
    }
    if (!delivered) {
      // The printer left (or stopped taking data) with its tables erased or half written: the
      // stage stays at 2, so the tables are written again when it returns.
      return finish(false,
                    tr("The printer stopped taking the colour tables; they are erased or incomplete."));
    }

    // The judgement: a table reported with another version was refused; one whose version does
    // not come, even at the second look after a pause, is unknown and not held against it.
    const std::optional<pm::PrinterModel> model = printer->printerModel();
    const std::span<const pm::ColorTableSlot> tableSlots =
        model ? pm::colorTablesAt(pm::modelTraits(*model), printer->installedFirmwareVersion())
              : std::span<const pm::ColorTableSlot>{};
    QStringList unread;
    QStringList refused;
    QStringList refusedNames;
    for (int look = 1; look <= 2; ++look) {
      if (look == 2) {
        if (unread.isEmpty()) break;
        QThread::msleep(static_cast<unsigned long>(printer->update().timings().statusPollPauseMs));
      }
      printer->colorTables().getPrinterColorTableVersion();
      if (look == 1) printer->colorTables().getPrinterColorTableChecksum();
      unread.clear();
      refused.clear();
      refusedNames.clear();
      for (const QString& name : archive->fileNames.mid(1)) {
        const std::optional<TableTarget> target = tableTarget(tableSlots, name);
        if (!target) continue;
        const QString reported =
            printer->deviceInfoDict()->string(QLatin1String(pm::colorTableKey(target->key).version));
        if (reported.trimmed().isEmpty()) unread << name;
        else if (!reportsTable(reported, name, target->version)) {
          refused << tr("%1 (it reports version %2)").arg(name, reported.trimmed());
          refusedNames << name;
        }
      }
    }
    if (!unread.isEmpty())
      pm::systemLog(QStringLiteral("colour table versions not reported, counted as written: %1")
                        .arg(unread.join(QStringLiteral(", "))));
    if (!refused.isEmpty()) {
      if (record) {
        for (const QString& name : refusedNames)
          if (!record->tablesToWrite.contains(name)) record->tablesToWrite << name;
        pm::UpdateJournal::put(*record);
      }
      return finish(
          false,
          refused.size() == 1
              ? tr("The printer did not take the colour table %1.").arg(refused.first())
              : tr("The printer did not take the colour tables %1.").arg(refused.join(QStringLiteral(", "))));
    }
    printer->update().storeUpdateStage(pm::UpdateStage::TablesWritten);
    finish(true, QString());
  });
}

std::optional<pm::PrinterUpdate::StepProgress> pm::PrinterUpdate::stepProgress() const {
  const std::lock_guard guard(progressLock_);
  return stepProgress_;
}

void pm::PrinterUpdate::setStepProgress(std::optional<StepProgress> progress) {
  {
    const std::lock_guard guard(progressLock_);
    stepProgress_ = progress;
  }
  printer_.announceChange(QStringLiteral("updateProgress"));
}

QStringList pm::PrinterUpdate::colorTableNames() const {
  const QStringList names = firmwareFilenames();
  if (names.size() < 2) return {};
  return names.mid(1);
}
