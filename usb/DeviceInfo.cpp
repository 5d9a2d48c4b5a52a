#include "usb/DeviceInfo.h"

namespace pm {

QVariant DeviceInfo::value(const QString& key) const {
  std::lock_guard lock(mutex_);
  return map_.value(key);
}

QString DeviceInfo::string(const QString& key) const {
  std::lock_guard lock(mutex_);
  const auto it = map_.constFind(key);
  return it == map_.constEnd() ? QString() : it->toString();
}

bool DeviceInfo::contains(const QString& key) const {
  std::lock_guard lock(mutex_);
  return map_.contains(key);
}

void DeviceInfo::setValue(const QString& key, const QVariant& value) {
  std::lock_guard lock(mutex_);
  map_.insert(key, value);
}

void DeviceInfo::remove(const QString& key) {
  std::lock_guard lock(mutex_);
  map_.remove(key);
}

bool DeviceInfo::isEmpty() const {
  std::lock_guard lock(mutex_);
  return map_.isEmpty();
}

QVariantMap DeviceInfo::snapshot() const {
  std::lock_guard lock(mutex_);
  // A copy of its own: a copy sharing the map lets a later change on another thread find the map
  // unshared (Qt reads the count relaxed) and change in place the nodes the copy still reads.
  QVariantMap copy;
  for (auto it = map_.constBegin(); it != map_.constEnd(); ++it) copy.insert(it.key(), it.value());
  return copy;
}

void DeviceInfo::merge(const QVariantMap& other) {
  std::lock_guard lock(mutex_);
  for (auto it = other.constBegin(); it != other.constEnd(); ++it) map_.insert(it.key(), it.value());
}

}  // namespace pm
