#pragma once
// What the window shows while no printer is listed: that no supported printer is connected, what
// to check, and how to try the application without one. [main]

#include <QWidget>

class QLabel;

class NoPrinterPage : public QWidget {
  Q_OBJECT

 public:
  // `demoSpec`: the demo mode's printers, empty when running on real hardware.
  explicit NoPrinterPage(const QString& demoSpec, QWidget* parent = nullptr);

  // After the last printer left the list: adds that a restarting printer comes back by itself.
  void setPrinterWasListed(bool listed);
  // Once the demo mode has attached its printers: says how many, or why none (`refusal`: the
  // models it refused, in words).
  void setDemoOutcome(int attached, const QString& refusal);

 private:
  QString adviceText() const;

  QString demoSpec_;
  int demoAttached_ = 0;
  QString demoRefusal_;
  QLabel* details_;
  QWidget* restartNote_;
};
