#include "olm/model/UdevRule.h"

namespace pm {

QString udevRule(const ModelIdTable& ids) {
  QString rule = QStringLiteral(
      "# Printer Maintenance: lets the user logged in at the seat use the supported photo printers\n"
      "# without root. systemd-logind grants the access (\"uaccess\") while the session is active; the\n"
      "# number keeps this rule before 73-seat-late.rules, which applies the tag. Generated from the\n"
      "# application's model table: `printer-maintenance --print-udev-rule` prints the lines for the\n"
      "# IDs set in models.conf.\n"
      "#\n"
      "# After installing by hand (copy to /etc/udev/rules.d/), reload and re-plug the printer:\n"
      "#   sudo udevadm control --reload-rules && sudo udevadm trigger --subsystem-match=usb\n");
  for (const ModelTraits& traits : allModelTraits()) {
    const ModelIds& model = ids[static_cast<std::size_t>(traits.model)];
    // udev takes '#' as a comment only at the start of a line.
    rule += QStringLiteral(
                "# %1\nSUBSYSTEM==\"usb\", ENV{DEVTYPE}==\"usb_device\", ATTR{idVendor}==\"%2\", "
                "ATTR{idProduct}==\"%3\", TAG+=\"uaccess\"\n")
                .arg(QLatin1String(traits.name))
                .arg(model.vendorId, 4, 16, QLatin1Char('0'))
                .arg(model.productId, 4, 16, QLatin1Char('0'));
  }
  return rule;
}

}  // namespace pm
