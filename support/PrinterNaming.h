#pragma once
// How every text of both front ends (window, command line) and the update history names a
// printer and shows a reading that did not come: one form, so that a printer is recognised
// across them ("PZA SIM0002"), and one word for a missing value ("unknown"), never the
// placeholders the printer layers log ("<NULL>", "NULL", "(null)").
//
// Threads: [any]; the texts are in the language installed when called.

#include <QCoreApplication>
#include <QString>

namespace pm {

class PrinterNaming {
  Q_DECLARE_TR_FUNCTIONS(PrinterNaming)

 public:
  // "<model> <serial number>"; the model alone without a serial number, "printer" without a model.
  static QString name(const QString& model, const QString& serialNumber);
  // A value that was asked for and did not come: empty or one of the layers' placeholders.
  static bool isUnread(const QString& value);
  // The word shown for such a value.
  static QString unknown();
  // `value`, or unknown() when it is unread.
  static QString shown(const QString& value);
};

}  // namespace pm
