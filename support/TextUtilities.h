#pragma once
// String, data and date helpers of the support library. Pure functions of their arguments:
// any thread.

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

namespace pm {

enum ComparisonResult { OrderedAscending = -1, OrderedSame = 0, OrderedDescending = 1 };

// ---- Dates ----------------------------------------------------------------------------------

// Renders `date` with a Unicode (UTS #35) date pattern, letter for letter, in the system locale
// and the date's time zone. Quoted text ('...') is literal; "''" is a quote. Digits are ASCII.
// "Y" (week-year) renders the calendar year. A null QString for an invalid date.
QString stringWithUTSFormat(const QDateTime& date, const QString& pattern);

// ---- Data -----------------------------------------------------------------------------------

// One hex-dump row of up to 16 bytes starting at `bytes`: "%.8lx  " offset, sixteen columns of
// "%.2x " (three blanks past the end, one extra blank after the eighth), " |", the printable
// bytes (32..126) as themselves and others as ".", "|". With `doublePercent` a '%' shows as
// "%%" (the form a printf-style consumer expects).
QString hexDumpRow(const unsigned char* bytes, size_t count, uint64_t offset, bool doublePercent);

// Multi-line dump of `length` bytes of `data` from `location` (clamped to the data): one
// hexDumpRow per 16 bytes plus "\n", offsets counted from the start of `data`. A run of rows equal
// to the row before is shown once as "* last line repeated %lu times\n".
QString hexdump(const QByteArray& data, qsizetype location, qsizetype length);

// ---- Comparison -----------------------------------------------------------------------------

// Compares the last path components without their extensions, case-insensitively (not
// locale-aware).
ComparisonResult myLocalizedCompare(const QString& a, const QString& b);
// Case-insensitive, with digit runs ordered by their numeric value ("file9" < "file10").
ComparisonResult numericalCaseInsensitiveCompare(const QString& a, const QString& b);

// ---- Decoding -------------------------------------------------------------------------------

// String encodings with the numbers the original platform gives them.
enum class StringEncoding : uint32_t {
  ASCII = 1,
  UTF8 = 4,
  Latin1 = 5,
  UTF16 = 10,  // host order unless a byte-order mark says otherwise
  UTF16BigEndian = 0x90000100,
  UTF16LittleEndian = 0x94000100,
  UTF32 = 0x8c000100,  // host order unless a byte-order mark says otherwise
  UTF32BigEndian = 0x98000100,
  UTF32LittleEndian = 0x9c000100,
};

// Decodes a NUL-terminated text of at most `maxLength` bytes (0: no limit, the text must then
// be terminated). The terminator is a zero code unit of the encoding's width. A UTF-8 byte-order
// mark is skipped (when the limit allows 4 bytes or more); a UTF-16/32 mark decides the byte
// order and is dropped. std::nullopt for a null pointer, an unknown encoding, a limit shorter
// than one code unit, or bytes that are not valid in the encoding (UTF-16 units are taken as they
// are, unpaired surrogates included).
std::optional<QString> stringWithCString(const char* bytes, size_t maxLength, StringEncoding encoding);

// ---- Editing --------------------------------------------------------------------------------

// `text` without every character (code point) for which `inSet` answers true.
QString stringByDeletingCharactersInSet(const QString& text, const std::function<bool(char32_t)>& inSet);
// Convenience: the set is the code points of `characters`.
QString stringByDeletingCharactersInSet(const QString& text, const QString& characters);

// Within `text`'s range [location, location + length) (clamped), replaces every occurrence of
// searches[i] by values[i] (the empty string when `values` is shorter), in order, each seeing the
// results of the ones before; the text around the range is kept as it is. Empty search strings
// are skipped.
QString stringByReplacingSubStrings(const QString& text, const QStringList& searches,
                                    const QStringList& values, Qt::CaseSensitivity options,
                                    qsizetype location, qsizetype length);

// ---- Paths ----------------------------------------------------------------------------------

// The last path component ("a/b.log" -> "b.log"; trailing slashes ignored).
QString lastPathComponent(const QString& path);
// The extension of the last component ("a/b.log" -> "log"); empty when it has none. A leading
// dot (".profile") marks a hidden file, not an extension.
QString pathExtension(const QString& path);
// The path without the extension and its dot ("a/b.log" -> "a/b").
QString stringByDeletingPathExtension(const QString& path);

}  // namespace pm
