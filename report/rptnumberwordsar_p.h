#pragma once

// Arabic words of a whole number, internal to the report engine.
//
// The number is given as decimal digits so that the groups up to sextillions
// (24 digits) can be written although a double holds far fewer. The gender is
// that of the counted noun: masculine nouns take the forms with ta marbuta for
// 3 to 10 (ثلاثة), feminine ones those without (ثلاث), and 1, 2, 11, 12 agree
// directly (واحد/واحدة, اثنان/اثنتان). Groups of thousands and above are always
// counted as the masculine nouns they are.
//
//   NumberToArabicWord(QStringLiteral("2015")).words()
//       -> "ألفان وخمسة عشر"

#include <QString>
#include <QtGlobal>

class NumberToArabicWord
{
public:
    enum Gender { Masculine, Feminine };

    // At most this many digits after leading zeros: up to 10^24 - 1.
    static constexpr int MaxDigits = 24;

    explicit NumberToArabicWord(const QString &digits, Gender gender = Masculine);
    explicit NumberToArabicWord(qint64 number, Gender gender = Masculine);

    // False for an empty text, anything but the digits 0-9, or too many digits.
    bool isValid() const { return m_valid; }

    // The words; empty when not valid.
    QString words() const;

private:
    QString m_digits; // without leading zeros, "0" for zero
    Gender m_gender = Masculine;
    bool m_valid = false;
};
