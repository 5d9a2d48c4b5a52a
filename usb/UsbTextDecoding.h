#pragma once
// The texts a printer's USB descriptors and its IEEE 1284 device ID carry, decoded from the bytes
// the device sent. Pure functions of their arguments, apart from the printer object so that they
// can be tested and fuzzed on their own: any thread.

#include <cstdint>
#include <initializer_list>

#include <QByteArrayView>
#include <QSet>
#include <QString>

namespace pm::usbtext {

// A string descriptor (length byte, type 3, UTF-16LE characters) as text, from the bytes received.
// The length byte is the device's claim: the text never runs past the bytes that came. Trailing
// code units whose low byte is 0 are padding some devices send; a null QString when no character
// is left.
QString stringDescriptorText(QByteArrayView received);

// The language list (string descriptor 0) and the language chosen from it: English wins over
// any other language, and among English IDs the lowest sub-language (0x0409 before 0x0809);
// without English, the first ID listed; 0 for an empty list.
struct LanguageList {
  QSet<uint16_t> ids;
  uint16_t choice = 0;
};
LanguageList languageList(QByteArrayView received);

// The big-endian length prefix of a GET_DEVICE_ID reply (it counts itself); 0 when fewer than
// two bytes came.
uint32_t deviceIdPrefix(QByteArrayView received);
// The text of a GET_DEVICE_ID reply: the bytes after the prefix up to the prefix's end, the last
// byte received or a NUL, whichever comes first, as UTF-8. "(null)" for a prefix of 0, "" for a
// prefix too short to hold any text (1 or 2); a null QString when the text is not UTF-8.
QString deviceIdText(QByteArrayView received);

// The part of `text` after the first `prefix` up to the next `terminator` after it; with
// `inclusive`, prefix and terminator included. An empty prefix starts at the text's start and an
// empty terminator runs to its end. A null QString when either is missing; an empty text gives
// itself.
QString substringFromString(const QString& text, const QString& prefix, const QString& terminator,
                            Qt::CaseSensitivity cs, bool inclusive);

// A device-ID field: the value after the first of `keys` (with their colon: "MFG:") that the
// text holds, up to the next ';', keys matched case-insensitively; a null QString when none does.
QString deviceIdField(const QString& deviceId, std::initializer_list<const char*> keys);

// The short name of a maker whose USB or device-ID name is long ("HEWLETT-PACKARD" -> "HP");
// any other name as it is.
QString normalizedVendorString(const QString& vendor);

// The fields a printer takes from its device ID: the maker (normalised) and model, "unknown"
// when absent; the serial number and the description, null when absent.
struct DeviceIdFields {
  QString manufacturer, model, serialNumber, description;
};
DeviceIdFields decodeDeviceId(const QString& deviceId);

}  // namespace pm::usbtext
