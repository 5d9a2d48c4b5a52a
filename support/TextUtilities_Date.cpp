// Unicode date-pattern rendering: the subset of UTS #35 fields that log and report patterns use,
// rendered the way ICU renders them, with ASCII digits.

#include "support/TextUtilities.h"

#include <QLocale>
#include <QTimeZone>

#include <cstdlib>

namespace pm {

namespace {

bool isPatternLetter(QChar c) {
  const char16_t u = c.unicode();
  return (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z');
}

QString padded(long long value, int width) {
  QString digits = QString::number(std::llabs(value));
  if (digits.size() < width) digits.prepend(QString(width - digits.size(), QLatin1Char('0')));
  return value < 0 ? QLatin1Char('-') + digits : digits;
}

// "+HHmm", "+HH:mm", "+HH" for an offset in seconds.
QString offsetText(int seconds, bool colon, bool withMinutes = true) {
  const QChar sign = seconds < 0 ? QLatin1Char('-') : QLatin1Char('+');
  const int minutes = std::abs(seconds) / 60;
  QString text = sign + padded(minutes / 60, 2);
  if (withMinutes) text += (colon ? QStringLiteral(":") : QString()) + padded(minutes % 60, 2);
  return text;
}

QString monthOrDay(const QString& longName, const QString& shortName, int count) {
  if (count == 4) return longName;
  if (count >= 5) return longName.left(1);
  return shortName;
}

// One field: `letter` repeated `count` times.
QString field(const QDateTime& dt, QChar letter, int count, const QLocale& locale) {
  const QDate date = dt.date();
  const QTime time = dt.time();
  switch (letter.unicode()) {
    case u'G':
      return count >= 4 ? (date.year() > 0 ? QStringLiteral("Anno Domini") : QStringLiteral("Before Christ"))
                        : (date.year() > 0 ? QStringLiteral("AD") : QStringLiteral("BC"));
    case u'y':
    case u'Y':  // week-year: the calendar year stands in for it
    case u'u':
      return count == 2 ? padded(date.year() % 100, 2) : padded(date.year(), count);
    case u'Q':
    case u'q':
      return padded((date.month() - 1) / 3 + 1, count >= 2 ? 2 : 1);
    case u'M':
    case u'L':
      if (count <= 2) return padded(date.month(), count);
      return monthOrDay(locale.monthName(date.month(), QLocale::LongFormat),
                        locale.monthName(date.month(), QLocale::ShortFormat), count);
    case u'w':
      return padded(date.weekNumber(), count);
    case u'd':
      return padded(date.day(), count);
    case u'D':
      return padded(date.dayOfYear(), count);
    case u'F':
      return padded((date.day() - 1) / 7 + 1, count);
    case u'e':
    case u'c':
      if (count <= 2) return padded(date.dayOfWeek() % 7 + 1, count);
      [[fallthrough]];
    case u'E':
      return monthOrDay(locale.dayName(date.dayOfWeek(), QLocale::LongFormat),
                        locale.dayName(date.dayOfWeek(), QLocale::ShortFormat), count);
    case u'a':
      return time.hour() < 12 ? locale.amText() : locale.pmText();
    case u'h':
      return padded(time.hour() % 12 == 0 ? 12 : time.hour() % 12, count);
    case u'H':
      return padded(time.hour(), count);
    case u'K':
      return padded(time.hour() % 12, count);
    case u'k':
      return padded(time.hour() == 0 ? 24 : time.hour(), count);
    case u'm':
      return padded(time.minute(), count);
    case u's':
      return padded(time.second(), count);
    case u'S': {
      // Fractional seconds: the leading `count` digits, truncated, zero-filled past milliseconds.
      QString fraction = padded(time.msec(), 3);
      return count <= 3 ? fraction.left(count) : fraction + QString(count - 3, QLatin1Char('0'));
    }
    case u'A':
      return padded(time.msecsSinceStartOfDay(), count);
    case u'Z': {
      const int offset = dt.offsetFromUtc();
      if (count <= 3) return offsetText(offset, false);
      if (count == 4)
        return offset == 0 ? QStringLiteral("GMT") : QStringLiteral("GMT") + offsetText(offset, true);
      return offset == 0 ? QStringLiteral("Z") : offsetText(offset, true);
    }
    case u'x':
    case u'X': {
      const int offset = dt.offsetFromUtc();
      if (letter == QLatin1Char('X') && offset == 0) return QStringLiteral("Z");
      if (count == 1) return offsetText(offset, false, offset % 3600 != 0);
      return offsetText(offset, count == 3 || count == 5);
    }
    case u'z':
      return count >= 4 ? dt.timeZone().displayName(dt, QTimeZone::LongName, locale)
                        : dt.timeZoneAbbreviation();
    case u'v':
    case u'V':
      return dt.timeZone().displayName(dt, QTimeZone::LongName, locale);
    default:
      return QString(count, letter);  // not a field this renderer knows: shown as written
  }
}

}  // namespace

QString stringWithUTSFormat(const QDateTime& date, const QString& pattern) {
  if (!date.isValid()) return QString();
  const QLocale locale = QLocale::system();
  QString out;
  qsizetype i = 0;
  while (i < pattern.size()) {
    const QChar c = pattern[i];
    if (c == QLatin1Char('\'')) {
      if (i + 1 < pattern.size() && pattern[i + 1] == QLatin1Char('\'')) {
        out += QLatin1Char('\'');
        i += 2;
        continue;
      }
      // Quoted literal up to the closing quote; "''" inside is one quote.
      ++i;
      while (i < pattern.size()) {
        if (pattern[i] == QLatin1Char('\'')) {
          if (i + 1 < pattern.size() && pattern[i + 1] == QLatin1Char('\'')) {
            out += QLatin1Char('\'');
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        out += pattern[i++];
      }
      continue;
    }
    if (!isPatternLetter(c)) {
      out += c;
      ++i;
      continue;
    }
    qsizetype run = i;
    while (run < pattern.size() && pattern[run] == c) ++run;
    out += field(date, c, static_cast<int>(run - i), locale);
    i = run;
  }
  return out;
}

}  // namespace pm
