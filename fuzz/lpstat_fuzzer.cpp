// The `lpstat -v` parser and the choice of a printer's queues. Input: the USB model string, a
// NUL, then the tool's output (without a NUL the whole input is the output and the model is
// "RM-KTC"); the printer's serial number is "1".

#include <algorithm>
#include <cstdint>

#include "fuzz/FuzzCheck.h"
#include "support/PrintQueues.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  const qsizetype nul = input.indexOf('\0');
  const QString model = nul < 0 ? QStringLiteral("RM-KTC") : QString::fromUtf8(input.first(nul));
  const QByteArray output = nul < 0 ? input : input.sliced(nul + 1);
  const QList<pm::PrintQueue> queues = pm::printQueuesFromListing(output);
  const QStringList names = pm::printQueuesOfPrinter(output, model, {QStringLiteral("1")});

  for (qsizetype i = 0; i < queues.size(); ++i) {
    const QString& name = queues[i].name;
    FUZZ_CHECK(!name.isEmpty() && !name.contains(u' ') && !name.contains(u'\t'));
    FUZZ_CHECK(!name.contains(u'\n') && !queues[i].deviceURI.contains(u'\n'));
    for (qsizetype j = 0; j < i; ++j) FUZZ_CHECK(queues[j].name != name);
    // A name that is valid UTF-8 stands in a "device for NAME: " line of the output.
    if (!name.contains(QChar::ReplacementCharacter)) {
      FUZZ_CHECK(output.contains("device for " + name.toUtf8() + ": "));
    }
    // Only USB queues are ever chosen, and only listed ones.
    const bool chosen = names.contains(name);
    FUZZ_CHECK(!chosen || queues[i].deviceURI.startsWith(QLatin1String("usb://"), Qt::CaseInsensitive));
  }
  for (const QString& name : names)
    FUZZ_CHECK(
        std::any_of(queues.cbegin(), queues.cend(), [&](const pm::PrintQueue& q) { return q.name == name; }));
  return 0;
}
