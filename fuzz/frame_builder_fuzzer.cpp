// The frame builder against the printer's own frame parser (the simulator's): every frame built
// must come out of the parser whole, with its name and payload, wherever the byte stream is cut
// and whatever stray bytes come before it. Input: up to four (command code, payload) requests,
// then stray bytes and the cut positions.

#include <cstdint>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz/FuzzCheck.h"
#include "olm/protocol/Framing.h"
#include "sim/FrameParser.h"

namespace framing = pm::framing;

namespace {

struct Sent {
  int64_t code;
  QByteArray payload;  // the payload the frame carries
};

int64_t codeFrom(FuzzedDataProvider& in) {
  // Mostly codes near the table, sometimes any 64-bit value.
  return in.ConsumeBool() ? in.ConsumeIntegralInRange<int64_t>(-2, 64) : in.ConsumeIntegral<int64_t>();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  QByteArray stream;
  std::vector<Sent> sent;
  const int requests = in.ConsumeIntegralInRange(1, 4);
  for (int i = 0; i < requests; ++i) {
    const int64_t code = codeFrom(in);
    const std::string bytes = in.ConsumeRandomLengthString(600);
    const QByteArray payload(bytes.data(), static_cast<qsizetype>(bytes.size()));
    const framing::Frame frame = framing::buildFrame(code, payload);
    const std::optional<framing::CommandSpec> spec = framing::commandSpec(code);
    const framing::PayloadRule rule = spec ? spec->rule : framing::PayloadRule::None;
    const bool wrongSize = rule == framing::PayloadRule::Fixed && payload.size() != spec->fixedSize;
    FUZZ_CHECK(frame.rejected() == wrongSize);
    FUZZ_CHECK((frame.problem == framing::FrameProblem::UnnamedCode) == (!spec && !wrongSize));
    if (frame.rejected()) continue;
    const QByteArray carried = rule == framing::PayloadRule::None ? QByteArray() : payload;
    FUZZ_CHECK(frame.bytes.size() == framing::kHeaderSize + carried.size());
    stream += frame.bytes;
    sent.push_back({code, carried});
  }

  // Stray bytes before the first frame, without a frame start in them.
  QByteArray stray = QByteArray::fromStdString(in.ConsumeRandomLengthString(40));
  stray.replace('\x1b', '.');
  stream.prepend(stray);

  sim::FrameParser parser;
  std::vector<sim::ReceivedFrame> received;
  for (qsizetype at = 0; at < stream.size();) {
    const qsizetype piece = in.ConsumeIntegralInRange<qsizetype>(1, stream.size() - at);
    for (sim::ReceivedFrame& frame : parser.feed(stream.mid(at, piece))) received.push_back(std::move(frame));
    at += piece;
  }

  FUZZ_CHECK(received.size() == sent.size());
  FUZZ_CHECK(parser.skippedBytes() == stray.size() && !parser.hasPartialFrame());
  for (size_t i = 0; i < sent.size(); ++i) {
    const sim::ReceivedFrame& frame = received[i];
    FUZZ_CHECK(frame.lengthFieldValid);
    FUZZ_CHECK(frame.command == framing::commandName(sent[i].code).left(framing::kNameFieldSize).trimmed());
    FUZZ_CHECK(frame.payload == sent[i].payload);
  }
  return 0;
}
