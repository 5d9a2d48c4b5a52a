#include "usb/UsbPlatform.h"

namespace usb {

namespace {
UsbRegistry* g_registry = nullptr;  // the one registry of the process; owned by the application
}

UsbRegistry* platformRegistry() { return g_registry; }
void setPlatformRegistry(UsbRegistry* registry) { g_registry = registry; }

}  // namespace usb
