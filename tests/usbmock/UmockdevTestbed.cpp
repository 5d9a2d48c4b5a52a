#include <umockdev.h>  // first: GLib's headers use the word "signals"

#include "tests/usbmock/UmockdevTestbed.h"

#include <QtGlobal>

#include "support/MainQueue.h"
#include "support/SystemLog.h"
#include "tests/usbmock/UsbfsResponder.h"

namespace usbmock {

namespace {

constexpr int kUsbDeviceMajor = 189;

QString sysfsPathOf(const UsbDeviceNode& node) {
  return QStringLiteral("/devices/pci0000:00/0000:00:14.0/usb%1/%1-%2").arg(node.busNumber).arg(node.port);
}

QString devnodeOf(const UsbDeviceNode& node) {
  return QString::asprintf("/dev/bus/usb/%03u/%03u", node.busNumber, node.deviceNumber);
}

// The device in umockdev's text format; attribute values carry the newline sysfs files end with.
QByteArray deviceRecord(const UsbDeviceNode& node) {
  const int minor = (node.busNumber - 1) * 128 + (node.deviceNumber - 1);
  QString text;
  text += QStringLiteral("P: %1\n").arg(sysfsPathOf(node));
  text += QString::asprintf("N: bus/usb/%03u/%03u\n", node.busNumber, node.deviceNumber);
  text += QStringLiteral("E: DEVNAME=%1\n").arg(devnodeOf(node));
  text += QStringLiteral("E: DEVTYPE=usb_device\nE: DRIVER=usb\nE: SUBSYSTEM=usb\n");
  text += QString::asprintf("E: BUSNUM=%03u\nE: DEVNUM=%03u\n", node.busNumber, node.deviceNumber);
  text += QStringLiteral("E: MAJOR=%1\nE: MINOR=%2\n").arg(kUsbDeviceMajor).arg(minor);
  text += QString::asprintf("E: PRODUCT=%x/%x/100\n", node.vendorId, node.productId);
  text += QString::asprintf("A: busnum=%u\\n\nA: devnum=%u\\n\n", node.busNumber, node.deviceNumber);
  text += QString::asprintf("A: idVendor=%04x\\n\nA: idProduct=%04x\\n\n", node.vendorId, node.productId);
  text += QStringLiteral("A: bConfigurationValue=1\\n\nA: bNumConfigurations=1\\n\nA: speed=480\\n\n");
  text += QStringLiteral("A: dev=%1:%2\\n\n").arg(kUsbDeviceMajor).arg(minor);
  text += QStringLiteral("H: descriptors=%1\n").arg(QString::fromLatin1(node.descriptors.toHex().toUpper()));
  return text.toUtf8();
}

}  // namespace

bool UmockdevTestbed::preloadActive() {
  return qEnvironmentVariable("LD_PRELOAD").contains(QLatin1String("libumockdev-preload"));
}

UmockdevTestbed::UmockdevTestbed() : testbed_(umockdev_testbed_new()) { Q_ASSERT(pm::isMainQueue()); }

UmockdevTestbed::~UmockdevTestbed() {
  Q_ASSERT(pm::isMainQueue());
  g_object_unref(testbed_);
}

QString UmockdevTestbed::addDevice(const UsbDeviceNode& node, UsbfsResponder* responder) {
  Q_ASSERT(pm::isMainQueue());
  GError* error = nullptr;
  // The handler first, so that libusb can open the node as soon as the "add" uevent arrives.
  if (responder != nullptr &&
      !umockdev_testbed_attach_ioctl(testbed_, devnodeOf(node).toUtf8().constData(),
                                     responder->handler(), &error)) {
    pm::systemLogf("usbmock: cannot attach to %s: %s", qPrintable(devnodeOf(node)), error->message);
    g_error_free(error);
    return {};
  }
  if (!umockdev_testbed_add_from_string(testbed_, deviceRecord(node).constData(), &error)) {
    pm::systemLogf("usbmock: cannot add %s: %s", qPrintable(sysfsPathOf(node)), error->message);
    g_error_free(error);
    return {};
  }
  return QStringLiteral("/sys") + sysfsPathOf(node);
}

void UmockdevTestbed::removeDevice(const QString& sysfsPath) {
  Q_ASSERT(pm::isMainQueue());
  const QByteArray path = sysfsPath.toUtf8();
  umockdev_testbed_uevent(testbed_, path.constData(), "remove");
  umockdev_testbed_remove_device(testbed_, path.constData());
}

}  // namespace usbmock
