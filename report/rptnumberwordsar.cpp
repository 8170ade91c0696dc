// Arabic numbers in Modern Standard Arabic, nominative, as written on cheques:
// every part joined with "و" (ألف ومائتان وأربعة وثلاثون), the units before
// the tens (خمسة وعشرون), and the noun after a group of thousands in the form
// its count asks for: ألف, ألفان, 3-10 آلاف, 11-99 ألفًا, round hundreds ألف.

#include "rptnumberwordsar_p.h"

#include "rptnumberwords_p.h"

#include <QStringList>
#include <QVector>

namespace {

const char *const masculineUnits[]
    = { "", "واحد", "اثنان", "ثلاثة", "أربعة", "خمسة", "ستة", "سبعة", "ثمانية", "تسعة", "عشرة" };

const char *const feminineUnits[]
    = { "", "واحدة", "اثنتان", "ثلاث", "أربع", "خمس", "ست", "سبع", "ثماني", "تسع", "عشر" };

const char *const arabicTens[]
    = { "", "", "عشرون", "ثلاثون", "أربعون", "خمسون", "ستون", "سبعون", "ثمانون", "تسعون" };

const char *const arabicHundreds[] = { "", "مائة", "مائتان", "ثلاثمائة", "أربعمائة", "خمسمائة",
    "ستمائة", "سبعمائة", "ثمانمائة", "تسعمائة" };

// Singular and plural of the group nouns, from thousand (index 1) to
// sextillion (index 7). The dual adds "ان", the accusative "ًا".
const char *const scaleSingular[]
    = { "", "ألف", "مليون", "مليار", "تريليون", "كوادريليون", "كوينتليون", "سكستليون" };

const char *const scalePlural[]
    = { "", "آلاف", "ملايين", "مليارات", "تريليونات", "كوادريليونات", "كوينتليونات", "سكستليونات" };

// The conjunction joining every part; it is written onto the next word.
QString joiner()
{
    return QString::fromUtf8(" و");
}

QString u8(const char *text)
{
    return QString::fromUtf8(text);
}

// 1..99
QString belowHundred(int n, NumberToArabicWord::Gender gender)
{
    const bool feminine = gender == NumberToArabicWord::Feminine;
    const char *const *units = feminine ? feminineUnits : masculineUnits;
    if (n <= 10)
        return u8(units[n]);
    if (n == 11)
        return feminine ? u8("إحدى عشرة") : u8("أحد عشر");
    if (n == 12)
        return feminine ? u8("اثنتا عشرة") : u8("اثنا عشر");
    if (n < 20)
        return u8(units[n - 10]) + (feminine ? u8(" عشرة") : u8(" عشر"));
    const int unit = n % 10;
    const QString tens = u8(arabicTens[n / 10]);
    if (unit == 0)
        return tens;
    const QString unitWord = unit == 1 && feminine ? u8("إحدى") : u8(units[unit]);
    return unitWord + joiner() + tens;
}

// 1..999, as a number standing on its own.
QString belowThousand(int n, NumberToArabicWord::Gender gender)
{
    QStringList parts;
    if (n >= 100)
        parts << u8(arabicHundreds[n / 100]);
    if (n % 100 > 0)
        parts << belowHundred(n % 100, gender);
    return parts.join(joiner());
}

// Round hundreds directly before a noun: مائتا ألف, not مائتان ألف.
QString hundredsBeforeNoun(int hundreds)
{
    return hundreds == 2 ? u8("مائتا") : u8(arabicHundreds[hundreds]);
}

// count (1..999) of the group noun at index scale.
QString scaleGroup(int count, int scale)
{
    const QString singular = u8(scaleSingular[scale]);
    const QString dual = singular + u8("ان");
    if (count == 1)
        return singular;
    if (count == 2)
        return dual;
    const int rest = count % 100;
    const int hundreds = count / 100;
    if (rest == 0)
        return hundredsBeforeNoun(hundreds) + QLatin1Char(' ') + singular;
    // 101000 is "a hundred thousand and a thousand"; one and two never stand
    // as counts in front of the noun.
    if (rest <= 2)
        return hundredsBeforeNoun(hundreds) + QLatin1Char(' ') + singular + joiner()
            + (rest == 1 ? singular : dual);
    const QString number = belowThousand(count, NumberToArabicWord::Masculine);
    if (rest <= 10)
        return number + QLatin1Char(' ') + u8(scalePlural[scale]);
    return number + QLatin1Char(' ') + singular + QChar(0x064B) + QChar(0x0627);
}

} // namespace

NumberToArabicWord::NumberToArabicWord(const QString &digits, Gender gender)
    : m_gender(gender)
{
    int first = 0;
    while (first < digits.size() - 1 && digits.at(first) == QLatin1Char('0'))
        ++first;
    m_digits = digits.mid(first);
    m_valid = !m_digits.isEmpty() && m_digits.size() <= MaxDigits;
    for (const QChar c : qAsConst(m_digits)) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            m_valid = false;
    }
}

NumberToArabicWord::NumberToArabicWord(qint64 number, Gender gender)
    : NumberToArabicWord(number < 0 ? QString() : QString::number(number), gender)
{
}

QString NumberToArabicWord::words() const
{
    if (!m_valid)
        return QString();
    if (m_digits == QLatin1String("0"))
        return u8("صفر");
    // Groups of three digits from the right: index 0 units, 1 thousands, ...
    QVector<int> groups;
    for (int end = m_digits.size(); end > 0; end -= 3) {
        const int start = qMax(0, end - 3);
        groups << m_digits.mid(start, end - start).toInt();
    }
    QStringList parts;
    for (int scale = groups.size() - 1; scale >= 1; --scale) {
        if (groups.at(scale) > 0)
            parts << scaleGroup(groups.at(scale), scale);
    }
    if (groups.at(0) > 0)
        parts << belowThousand(groups.at(0), m_gender);
    return parts.join(joiner());
}

namespace RptNumberWordsDetail {

QString double2MoneyAR(double x)
{
    Amount amount;
    if (!splitAmount(x, &amount))
        return QString();
    QString words = NumberToArabicWord(amount.whole).words();
    if (amount.negative)
        words.prepend(QString::fromUtf8("سالب "));
    if (amount.hundredths > 0) {
        // Read as written: 12.05 is "... فاصلة صفر خمسة".
        words += QString::fromUtf8(" فاصلة ");
        if (amount.hundredths < 10)
            words += QString::fromUtf8("صفر ");
        words += NumberToArabicWord(amount.hundredths).words();
    }
    return words;
}

} // namespace RptNumberWordsDetail
