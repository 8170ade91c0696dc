#pragma once

#include <QString>

// Helpers for header text shared by the MIME classes; not part of the
// model's interface.
namespace MimeHeader {

// A header value on one line: every CR and LF becomes a blank, so a value
// can never start a header line of its own.
QString singleLine(const QString &value);

// A value for a quoted-string (a file name between double quotes): one line,
// with backslash and double quote escaped.
QString quotedStringContent(const QString &value);

// True when every character is 7-bit ASCII.
bool isAscii(const QString &value);

// RFC 2047 "B" encoded words for text. Short texts give one word; longer ones
// several, each at most 75 characters, cut only between whole UTF-8
// characters and joined by a folding CRLF + blank.
QString base64Words(const QString &text);

// RFC 2047 "Q" encoded word: quoted-printable with blanks as "_" and ":", "?"
// and "_" escaped, so that the text can not end the word early.
QString quotedPrintableWord(const QString &text);

} // namespace MimeHeader
