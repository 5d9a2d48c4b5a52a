// The `lpstat -v` parser. Input: the marker, a NUL, then the tool's output (without a NUL the
// whole input is the output and the KTC marker is used).

#include <cstdint>

#include "fuzz/FuzzCheck.h"
#include "update/PrintQueues.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  const qsizetype nul = input.indexOf('\0');
  const QString marker = nul < 0 ? QString::fromLatin1(pm::kKTCDeviceURIMarker)
                                 : QString::fromUtf8(input.first(nul));
  const QByteArray output = nul < 0 ? input : input.sliced(nul + 1);
  const QStringList names = pm::printQueuesForDeviceURIMarker(output, marker);

  for (qsizetype i = 0; i < names.size(); ++i) {
    const QString& name = names[i];
    FUZZ_CHECK(!name.isEmpty() && !name.contains(u' ') && !name.contains(u'\t'));
    FUZZ_CHECK(!name.contains(u'\n') && names.indexOf(name) == i);
    // A name that is valid UTF-8 stands in a "device for NAME: " line of the output.
    if (!name.contains(QChar::ReplacementCharacter)) {
      FUZZ_CHECK(output.contains("device for " + name.toUtf8() + ": "));
    }
  }
  return 0;
}
