#pragma once
// Whether a reply can be the answer to the command just sent. A reply that came after its own
// reader gave up, or bytes that are no reply at all, must not be taken for the answer to the next
// command: the reply reader drops what does not fit and reads on (olm/printer). Pure functions. [any]
//
// What fits, by command (the body's text is read up to its first carriage return, trimmed):
//  - every command: a header of 8 decimal digits (leading blanks allowed; 8 blanks count 0),
//    announcing at most 4096 bytes; an empty body fits every command;
//  - "STATUS": at most 16 bytes;
//  - "FVER": at most 64 bytes, and not a bare number (a status code, a counter, a setting);
//  - "SERIAL_NUMBER": at most 64 bytes;
//  - the counters ("COUNTER_LIFE" echoes its "CL"): at most 16 bytes, an optional "CL" and digits;
//  - the USB serial-number setting: at most 8 bytes of digits;
//  - everything else (the colour-table readings): any text within the limit.

#include <cstdint>
#include <optional>

#include <QByteArrayView>

namespace pm::framing {

// The count of a reply header; nullopt when its 8 bytes are no length (garbage). Not limited.
std::optional<uint32_t> headerCount(QByteArrayView header);
// Whether a body of `count` bytes can answer `code` (a negative code: any command).
bool lengthFits(int64_t code, uint32_t count);
// Whether the body's bytes can answer `code`.
bool formFits(int64_t code, QByteArrayView body);

}  // namespace pm::framing
