#include <QtTest>

#include "support/IOReturn.h"

class SmokeTest : public QObject {
  Q_OBJECT
 private slots:
  void constants() { QCOMPARE(static_cast<uint32_t>(kIOReturnExclusiveAccess), 0xE00002C5u); }
};

QTEST_GUILESS_MAIN(SmokeTest)
#include "smoke_unittest.moc"
