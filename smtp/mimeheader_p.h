#pragma once

#include <QString>

// Helpers for header text shared by the MIME classes; not part of the
// model's interface.
namespace MimeHeader {

// The longest line SMTP carries, CRLF not counted (RFC 5321, 4.5.3.1.6).
// Servers refuse or cut longer ones, so no header line may exceed it.
constexpr int maxLineLength = 998;

// A header line (name, colon and value, no CRLF) whose UTF-8 is longer than
// maxLineLength octets folded before blanks into lines of about 78 octets.
// A line within the limit comes back unchanged. *fits (when given) tells
// whether every resulting line is within the limit; a single word longer
// than that cannot be folded.
QString fold(const QString &line, bool *fits = nullptr);

// "; name*0*=utf-8''...;" continuation lines of RFC 2231 for a parameter
// value too long for one line: the value's UTF-8 bytes percent-encoded and
// cut into pieces of at most 60 characters, never inside an escape.
QString continuedParameter(const QString &name, const QString &value);

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

// RFC 2047 "Q" encoded words: quoted-printable with blanks as "_" and ":",
// "?" and "_" escaped, so that the text can not end the word early. Like
// base64Words, a long text gives several words of at most 75 characters.
QString quotedPrintableWord(const QString &text);

} // namespace MimeHeader
