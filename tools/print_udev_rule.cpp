// Writes the udev rule for the model table's built-in IDs to standard output: the build makes the
// installed 70-printer-maintenance.rules with it.

#include <cstdio>

#include "olm/model/UdevRule.h"

int main() {
  std::fputs(pm::udevRule(pm::builtInIds()).toUtf8().constData(), stdout);
  return 0;
}
