#pragma once

// Amounts written out in words, for the script function NumberToWords.
//
//   QString words = RptNumberWords::double2Money(value, languageCode);
//
// The script engine passes its two arguments through unchanged: the number
// (already converted to double) and the language code. Codes are compared
// exactly, upper case:
//
//   "ENG"    English, whole part only:          1234.5 -> "one thousand two hundred thirty-four"
//   "UKR"    hryvnias and kopiykas:              2.01 -> "дві гривні одна копійка"
//   "GER"    German, hundredths after "komma":  21.5 -> "einundzwanzig komma fünfzig"
//   "ESP"    Spanish, hundredths after "con":   21.5 -> "veintiuno con cincuenta"
//   "FR_FR"  French, whole part only:             71 -> "soixante et onze"
//   "FR_BE"  Belgian French, whole part only:     71 -> "septante et un"
//   "FR_CH"  Swiss French, whole part only:       80 -> "huitante"
//   "ITA"    Italian, hundredths after "virgola": 23 -> "ventitré"
//   "AR"     Arabic, hundredths after "فاصلة":     3 -> "ثلاثة"
//   "TR"     Turkish lira and kuruş:             5.5 -> "beş#TL#elli#KRŞ"
//   anything else: English.
//
// The value is first rounded to whole hundredths, so 2.9999999999 counts as
// three. A negative amount gets the language's word for minus in front.
// Whole parts up to maxValue() are written; NaN, infinities and larger
// magnitudes give an empty text and a warning in yxa.report.
//
// The function is pure and keeps no state, so report engines in different
// threads may call it at the same time.

#include <QString>

class RptNumberWords
{
public:
    static QString double2Money(double value, const QString &language);

    // The largest magnitude written out, 10^15 - 1: below it a double still
    // holds every whole number exactly. (Hundredths are exact only up to about
    // 10^13; above that the hundredths written are those the double holds.)
    static constexpr double maxValue() { return 999999999999999.0; }
};
