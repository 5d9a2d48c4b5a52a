// Upload path: from TBUSBPrinterOLM::firmwareBlob (read, S-record check, padding) through the
// framing to the last byte accepted by the virtual bus, for a 1 MiB image, on the printer's command
// queue as in the update. The frame goes out through the update's own sendFirmwareImage: built
// once, written in its pieces with the progress the window shows.
//
// Copies are counted, not guessed: this program replaces malloc/calloc/realloc with counting
// wrappers around glibc's own allocator, and every allocation of at least half the image's size
// made during a stage is one copy of the image (nothing else in the path is that large), except
// the first one in firmwareBlob, which is the file read into memory. A reallocation (the padding
// growing the read buffer by up to three bytes) moves no bytes for a buffer this large: glibc
// serves it with mremap.

#include <atomic>
#include <cstdlib>

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include "bench/BenchRig.h"
#include "bench/BenchSupport.h"
#include "olm/protocol/Framing.h"
#include "support/Resources.h"

extern "C" void* __libc_malloc(size_t);
extern "C" void* __libc_calloc(size_t, size_t);
extern "C" void* __libc_realloc(void*, size_t);

namespace {
std::atomic<bool> counting{false};
std::atomic<size_t> threshold{SIZE_MAX};
std::atomic<int> bigAllocations{0};
std::atomic<int> bigReallocations{0};
void note(size_t size, std::atomic<int>& counter) {
  if (counting.load(std::memory_order_relaxed) && size >= threshold.load(std::memory_order_relaxed))
    ++counter;
}
}  // namespace

extern "C" void* malloc(size_t size) {
  note(size, bigAllocations);
  return __libc_malloc(size);
}
extern "C" void* calloc(size_t count, size_t size) {
  note(count * size, bigAllocations);
  return __libc_calloc(count, size);
}
extern "C" void* realloc(void* pointer, size_t size) {
  note(size, pointer ? bigReallocations : bigAllocations);
  return __libc_realloc(pointer, size);
}

namespace {

constexpr qsizetype kImageBytes = 1 << 20;
constexpr double kGoalMBps = 1000;

// An S-record text of kImageBytes - 2 bytes, so that the padding has work to do.
QByteArray imageText() {
  QByteArray text;
  const QByteArray line = "S1130000000102030405060708090A0B0C0D0E0F74\n";
  while (text.size() + line.size() <= kImageBytes - 2) text += line;
  text += QByteArray(kImageBytes - 2 - text.size() - 1, '\n');  // empty lines are skipped
  text += '\n';
  return text;
}

struct Stages {
  double seconds = 0;
  double sendSeconds = 0;  // the frame and its pieces alone
  int blobCopies = 0, sendCopies = 0, frameCopies = 0, reallocations = 0;
  qsizetype imageSize = 0;
};

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  bench::redirectStandardErrorTo(bench::scratchDirectory() + QStringLiteral("/upload.log"));

  const QString resources = bench::scratchDirectory() + QStringLiteral("/resources");
  QDir().mkpath(resources + QStringLiteral("/firmware"));
  QFile file(resources + QStringLiteral("/firmware/BENCH 01.00.fw"));
  const QByteArray text = imageText();
  if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size()) qFatal("cannot write the image");
  file.close();
  qputenv("PM_RESOURCE_DIR", resources.toLocal8Bit());

  bench::BenchRig rig(/*probeNewPrinters=*/false);
  auto device = rig.attach({});
  if (!bench::BenchRig::waitFor([&] { return !rig.printers().empty(); })) qFatal("no printer arrived");
  auto printer = rig.printers().front();
  if (!bench::BenchRig::waitUntilIdle(printer)) qFatal("the printer's attach sequence did not end");
  printer->update().setFilenames(QStringList{file.fileName().section(QLatin1Char('/'), -1)});
  threshold = kImageBytes / 2;

  auto uploadOnce = [&] {
    Stages stages;
    bool done = false;
    device->clearFrames();
    printer->openInterface([&](IOReturn result) {
      if (result != kIOReturnSuccess) qFatal("the interface did not open");
      bigAllocations = 0;
      bigReallocations = 0;
      counting = true;
      const auto start = bench::Clock::now();
      const QByteArray image = printer->update().firmwareBlob();
      stages.blobCopies = bigAllocations.exchange(0);
      const auto sending = bench::Clock::now();
      printer->update().sendFirmwareImage(image);
      stages.seconds = std::chrono::duration<double>(bench::Clock::now() - start).count();
      stages.sendSeconds = std::chrono::duration<double>(bench::Clock::now() - sending).count();
      counting = false;
      stages.sendCopies = bigAllocations;
      stages.reallocations = bigReallocations;
      stages.imageSize = image.size();
      // The framing alone, to tell its copies from the transfer's.
      bigAllocations = 0;
      counting = true;
      pm::framing::buildFrame(pm::framing::Command::FlashProgram, image);
      counting = false;
      stages.frameCopies = bigAllocations;
      if (printer->writeStatus() != kIOReturnSuccess) qFatal("the write failed");
      done = true;
    });
    if (!bench::BenchRig::waitFor([&] { return done; })) qFatal("the upload did not finish");
    return stages;
  };

  uploadOnce();  // warm-up
  Stages last;
  std::vector<double> runs, sendRates;
  const double rate = bench::medianOfRuns(
      [&] {
        last = uploadOnce();
        sendRates.push_back(last.imageSize / 1e6 / last.sendSeconds);
        return last.imageSize / 1e6 / last.seconds;
      },
      &runs);
  if (last.imageSize != kImageBytes)
    qFatal("the image is %lld bytes", static_cast<long long>(last.imageSize));
  // Beyond the application's copies, the send stage holds the virtual bus's transfer buffer (as
  // the kernel copies a real transfer) and what the virtual printer keeps of the frame.
  // The first image-sized allocation in firmwareBlob is the file read itself, not a copy.
  const int hostCopies = last.blobCopies - 1 + last.frameCopies;
  bench::printRow(
      QStringLiteral("Upload path: firmwareBlob to the virtual bus, 1 MiB image"),
      QStringLiteral("%1 MB/s; image copies by the application: %2").arg(rate, 0, 'f', 0).arg(hostCopies),
      QStringLiteral("≥ %1 MB/s, ≤ 1 copy").arg(kGoalMBps), rate >= kGoalMBps && hostCopies <= 1,
      QStringLiteral(
          "runs: %1 MB/s; the frame in its pieces alone (sendFirmwareImage): %6 MB/s (runs %7); image-sized "
          "allocations: %2 in firmwareBlob (the read included; %3 reallocations), %4 in the framing, %5 in "
          "the "
          "bus and the virtual printer")
          .arg(bench::listOf(runs, 0))
          .arg(last.blobCopies)
          .arg(last.reallocations)
          .arg(last.frameCopies)
          .arg(last.sendCopies - last.frameCopies)
          .arg(bench::median(sendRates), 0, 'f', 0)
          .arg(bench::listOf(sendRates, 0)));
  return 0;
}
