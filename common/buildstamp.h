#pragma once

#include <QString>

// The "BUILD" value of a plug-in's version information: the compiler's build
// date and time as "yyMMddhhmm", or an empty string when they do not parse.
namespace BuildStamp {
QString fromCompilerTexts(const QString &date, const QString &time);
} // namespace BuildStamp

// Expands in the plug-in's own translation unit so that the stamp is the
// plug-in's build time, not that of this library.
#define YXA_BUILD_STAMP() BuildStamp::fromCompilerTexts(QStringLiteral(__DATE__), QStringLiteral(__TIME__))
