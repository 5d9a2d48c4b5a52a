#pragma once
// Collects the lines written through pm::systemLog while it lives. Any thread may log while a
// capture exists; the accessors may be called from any thread. Only one capture at a time: a
// second one replaces the first as the sink until it is destroyed.

#include <QString>
#include <QStringList>

#include <mutex>

class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  // Whether any line holds `substring`.
  bool contains(const QString& substring) const;
  // How many lines hold `substring`.
  int count(const QString& substring) const;
  void clear();

 private:
  static void receive(const QString& line, void* context);

  mutable std::mutex lock_;
  QStringList lines_;
};
