#pragma once
// A printer's device information: text keys to values (texts, numbers, one list). Shared by
// reference (std::shared_ptr) between a printer object and the process-wide device-information
// registry. Every access takes the dictionary's own lock, so the main thread and the printer's
// command queue may read and write it at the same time.

#include <mutex>

#include <QString>
#include <QVariant>
#include <QVariantMap>

namespace pm {

class DeviceInfo {
 public:
  QVariant value(const QString& key) const;
  QString string(const QString& key) const;  // null QString when absent
  bool contains(const QString& key) const;
  void setValue(const QString& key, const QVariant& value);
  void remove(const QString& key);
  bool isEmpty() const;
  QVariantMap snapshot() const;
  // Copies every entry of `other` in, replacing entries of the same key.
  void merge(const QVariantMap& other);

 private:
  mutable std::mutex mutex_;
  QVariantMap map_;
};

}  // namespace pm
