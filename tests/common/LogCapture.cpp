#include "tests/common/LogCapture.h"

#include <algorithm>

#include "support/SystemLog.h"

LogCapture::LogCapture() { pm::setSystemLogSink(&LogCapture::receive, this); }

LogCapture::~LogCapture() { pm::setSystemLogSink(nullptr, nullptr); }

bool LogCapture::contains(const QString& substring) const { return count(substring) > 0; }

int LogCapture::count(const QString& substring) const {
  const std::lock_guard<std::mutex> guard(lock_);
  return static_cast<int>(
      std::ranges::count_if(lines_, [&](const QString& line) { return line.contains(substring); }));
}

void LogCapture::clear() {
  const std::lock_guard<std::mutex> guard(lock_);
  lines_.clear();
}

void LogCapture::receive(const QString& line, void* context) {
  auto* self = static_cast<LogCapture*>(context);
  const std::lock_guard<std::mutex> guard(self->lock_);
  self->lines_.append(line);
}
