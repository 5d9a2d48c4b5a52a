#include "support/TextUtilities.h"

#include <algorithm>
#include <cstring>

namespace pm {

namespace {

constexpr size_t kRowBytes = 16;

ComparisonResult toResult(int c) {
  return c < 0 ? OrderedAscending : (c > 0 ? OrderedDescending : OrderedSame);
}

bool isAsciiDigit(QChar c) { return c.unicode() >= u'0' && c.unicode() <= u'9'; }

// The digit run of `s` from `i`, with leading zeros dropped, so that runs compare by value through
// length first and digits second.
QStringView significantDigits(const QString& s, qsizetype& i) {
  const qsizetype begin = i;
  while (i < s.size() && isAsciiDigit(s[i])) ++i;
  qsizetype first = begin;
  while (first < i - 1 && s[first] == QLatin1Char('0')) ++first;
  return QStringView(s).mid(first, i - first);
}

}  // namespace

// ---- Data -----------------------------------------------------------------------------------

QString hexDumpRow(const unsigned char* bytes, size_t count, uint64_t offset, bool doublePercent) {
  count = std::min(count, kRowBytes);
  QString row = QString::asprintf("%.8llx  ", static_cast<unsigned long long>(offset));
  for (size_t column = 0; column < kRowBytes; ++column) {
    if (column < count) {
      row += QString::asprintf("%.2x ", bytes[column]);
    } else {
      row += QLatin1String("   ");
    }
    if (column == 7) row += QLatin1Char(' ');
  }
  row += QLatin1String(" |");
  for (size_t i = 0; i < count; ++i) {
    const unsigned char b = bytes[i];
    if (b == '%' && doublePercent) {
      row += QLatin1String("%%");
    } else if (b >= 32 && b <= 126) {
      row += QLatin1Char(static_cast<char>(b));
    } else {
      row += QLatin1Char('.');
    }
  }
  row += QLatin1Char('|');
  return row;
}

QString hexdump(const QByteArray& data, qsizetype location, qsizetype length) {
  const qsizetype begin = std::clamp<qsizetype>(location, 0, data.size());
  const qsizetype end = begin + std::clamp<qsizetype>(length, 0, data.size() - begin);
  const auto* base = reinterpret_cast<const unsigned char*>(data.constData());

  QString dump;
  unsigned long repeated = 0;
  const unsigned char* previous = nullptr;
  for (qsizetype at = begin; at < end; at += kRowBytes) {
    const size_t count = static_cast<size_t>(std::min<qsizetype>(kRowBytes, end - at));
    const unsigned char* row = base + at;
    if (previous != nullptr && count == kRowBytes && std::memcmp(previous, row, kRowBytes) == 0) {
      ++repeated;
      continue;
    }
    if (repeated > 0) {
      dump += QString::asprintf("* last line repeated %lu times\n", repeated);
      repeated = 0;
    }
    dump += hexDumpRow(row, count, static_cast<uint64_t>(at), false) + QLatin1Char('\n');
    previous = count == kRowBytes ? row : nullptr;
  }
  if (repeated > 0) dump += QString::asprintf("* last line repeated %lu times\n", repeated);
  return dump;
}

// ---- Comparison -----------------------------------------------------------------------------

ComparisonResult myLocalizedCompare(const QString& a, const QString& b) {
  return toResult(QString::compare(stringByDeletingPathExtension(lastPathComponent(a)),
                                   stringByDeletingPathExtension(lastPathComponent(b)), Qt::CaseInsensitive));
}

ComparisonResult numericalCaseInsensitiveCompare(const QString& a, const QString& b) {
  qsizetype i = 0;
  qsizetype j = 0;
  while (i < a.size() && j < b.size()) {
    if (isAsciiDigit(a[i]) && isAsciiDigit(b[j])) {
      const QStringView x = significantDigits(a, i);
      const QStringView y = significantDigits(b, j);
      if (x.size() != y.size()) return x.size() < y.size() ? OrderedAscending : OrderedDescending;
      const int c = x.compare(y);
      if (c != 0) return toResult(c);
      continue;
    }
    const char16_t x = a[i].toCaseFolded().unicode();
    const char16_t y = b[j].toCaseFolded().unicode();
    if (x != y) return x < y ? OrderedAscending : OrderedDescending;
    ++i;
    ++j;
  }
  const bool aLeft = i < a.size();
  const bool bLeft = j < b.size();
  return aLeft == bLeft ? OrderedSame : (aLeft ? OrderedDescending : OrderedAscending);
}

// ---- Editing --------------------------------------------------------------------------------

QString stringByDeletingCharactersInSet(const QString& text, const std::function<bool(char32_t)>& inSet) {
  QString kept;
  kept.reserve(text.size());
  for (const char32_t c : text.toUcs4()) {
    if (!inSet(c)) kept += QString::fromUcs4(&c, 1);
  }
  return kept;
}

QString stringByDeletingCharactersInSet(const QString& text, const QString& characters) {
  const QList<uint> set = characters.toUcs4();
  return stringByDeletingCharactersInSet(text, [&set](char32_t c) { return set.contains(c); });
}

QString stringByReplacingSubStrings(const QString& text, const QStringList& searches,
                                    const QStringList& values, Qt::CaseSensitivity options,
                                    qsizetype location, qsizetype length) {
  const qsizetype begin = std::clamp<qsizetype>(location, 0, text.size());
  const qsizetype count = std::clamp<qsizetype>(length, 0, text.size() - begin);
  QString working = text.mid(begin, count);
  for (qsizetype i = 0; i < searches.size(); ++i) {
    if (searches[i].isEmpty()) continue;
    working.replace(searches[i], i < values.size() ? values[i] : QString(), options);
  }
  return text.left(begin) + working + text.mid(begin + count);
}

// ---- Paths ----------------------------------------------------------------------------------

QString lastPathComponent(const QString& path) {
  QString trimmed = path;
  while (trimmed.size() > 1 && trimmed.endsWith(QLatin1Char('/'))) trimmed.chop(1);
  const qsizetype slash = trimmed.lastIndexOf(QLatin1Char('/'));
  return (slash < 0 || trimmed.size() == 1) ? trimmed : trimmed.mid(slash + 1);
}

QString pathExtension(const QString& path) {
  const QString component = lastPathComponent(path);
  const qsizetype dot = component.lastIndexOf(QLatin1Char('.'));
  return dot > 0 ? component.mid(dot + 1) : QString();
}

QString stringByDeletingPathExtension(const QString& path) {
  const QString component = lastPathComponent(path);
  const qsizetype dot = component.lastIndexOf(QLatin1Char('.'));
  if (dot <= 0) return path;
  QString trimmed = path;
  while (trimmed.size() > 1 && trimmed.endsWith(QLatin1Char('/'))) trimmed.chop(1);
  trimmed.chop(component.size() - dot);
  return trimmed;
}

}  // namespace pm
