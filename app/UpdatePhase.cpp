#include "app/UpdatePhase.h"

#include <algorithm>

#include <QCoreApplication>

#include "olm/printer/TBUSBPrinterOLM.h"
#include "olm/update/UpdateJournal.h"
#include "support/MainQueue.h"

namespace pm {

namespace {

struct Texts {
  Q_DECLARE_TR_FUNCTIONS(UpdatePhase)
};

// The stage moves to 3 only once the colour tables are written; while they are, the printer
// object that came back after the upload shows this status text.
const QString kColourTablesStatus = QStringLiteral("Updating colour tables ...");

}  // namespace

int updatePhase(const TBUSBPrinter& printer) {
  Q_ASSERT(isMainQueue());
  if (!printer.inFirmwareUpdate()) return 0;
  const QVariant stage = printer.deviceInfoDict()->value(TBUSBPrinterOLM::kUpdateStageKey);
  // Before the first stage is recorded the update is starting: phase 1.
  const int recorded = stage.isValid() ? std::clamp(stage.toInt(), 1, kUpdatePhaseCount) : 1;
  if (recorded == static_cast<int>(UpdateStage::ImageSent) && printer.printerStatus() == kColourTablesStatus)
    return 3;
  return recorded;
}

QString updatePhaseText(int phase) { return Texts::tr("Phase %1 of %2").arg(phase).arg(kUpdatePhaseCount); }

QString updatePhaseDescription(int phase) {
  switch (phase) {
    case 1:
      return Texts::tr("restarting the printer into its update mode");
    case 2:
      return Texts::tr("writing the new firmware");
    case 3:
      return Texts::tr("writing the colour tables");
  }
  return {};
}

}  // namespace pm
