#include "rptnumberwords.h"

#include "reportlogging.h"
#include "rptnumberwords_p.h"

#include <QLatin1String>

#include <cmath>

namespace RptNumberWordsDetail {

bool splitAmount(double value, Amount *amount)
{
    // Also false for NaN, which fails every comparison.
    if (!(std::fabs(value) < RptNumberWords::maxValue() + 1.0))
        return false;
    const double magnitude = std::fabs(value);
    // floor and the subtraction are exact for doubles, so only the one
    // rounding to hundredths touches the amount.
    const double whole = std::floor(magnitude);
    qint64 wholePart = qint64(whole);
    qint64 hundredths = std::llround((magnitude - whole) * 100.0);
    if (hundredths >= 100) {
        ++wholePart;
        hundredths -= 100;
    }
    if (wholePart > qint64(RptNumberWords::maxValue()))
        return false;
    amount->whole = wholePart;
    amount->hundredths = int(hundredths);
    amount->negative = value < 0 && (wholePart != 0 || hundredths != 0);
    return true;
}

namespace {

const char *const englishSmall[] = { "zero", "one", "two", "three", "four", "five", "six", "seven",
    "eight", "nine", "ten", "eleven", "twelve", "thirteen", "fourteen", "fifteen", "sixteen",
    "seventeen", "eighteen", "nineteen", "twenty" };

const char *const englishTens[]
    = { "", "", "twenty", "thirty", "forty", "fifty", "sixty", "seventy", "eighty", "ninety" };

struct EnglishPower
{
    qint64 scale;
    const char *word;
};

// Trillion goes beyond the four powers needed below 2^31, so that the whole
// range of maxValue() reads as English rather than as "one thousand billion".
const EnglishPower englishPowers[] = {
    { Q_INT64_C(1000000000000), "trillion" },
    { Q_INT64_C(1000000000), "billion" },
    { Q_INT64_C(1000000), "million" },
    { Q_INT64_C(1000), "thousand" },
    { Q_INT64_C(100), "hundred" },
};

QString englishWords(qint64 n)
{
    if (n < 21)
        return QLatin1String(englishSmall[n]);
    if (n < 100) {
        QString words = QLatin1String(englishTens[n / 10]);
        if (n % 10 != 0)
            words += QLatin1Char('-') + englishWords(n % 10);
        return words;
    }
    for (const EnglishPower &power : englishPowers) {
        if (n / power.scale < 1)
            continue;
        QString words
            = englishWords(n / power.scale) + QLatin1Char(' ') + QLatin1String(power.word);
        const qint64 rest = n % power.scale;
        if (rest > 0)
            words += QLatin1Char(' ') + englishWords(rest);
        return words;
    }
    return QString();
}

} // namespace

QString double2MoneyENG(double x)
{
    Amount amount;
    if (!splitAmount(x, &amount))
        return QString();
    const QString words = englishWords(amount.whole);
    return amount.negativeWhole() ? QLatin1String("minus ") + words : words;
}

} // namespace RptNumberWordsDetail

QString RptNumberWords::double2Money(double value, const QString &language)
{
    using namespace RptNumberWordsDetail;
    Amount amount;
    if (!splitAmount(value, &amount)) {
        qCWarning(lcReport,
            "RptNumberWords::double2Money(value: %g, language: \"%s\") value out "
            "of range",
            value, qUtf8Printable(language));
        return QString();
    }
    if (language == QLatin1String("UKR"))
        return double2MoneyUKR(value);
    if (language == QLatin1String("GER"))
        return double2MoneyGER(value);
    if (language == QLatin1String("ESP"))
        return double2MoneyESP(value);
    if (language == QLatin1String("FR_FR"))
        return double2MoneyFrench(value, FrenchFrance);
    if (language == QLatin1String("FR_BE"))
        return double2MoneyFrench(value, FrenchBelgium);
    if (language == QLatin1String("FR_CH"))
        return double2MoneyFrench(value, FrenchSwitzerland);
    if (language == QLatin1String("ITA"))
        return double2MoneyITA(value);
    if (language == QLatin1String("AR"))
        return double2MoneyAR(value);
    if (language == QLatin1String("TR"))
        return double2MoneyTR(value);
    return double2MoneyENG(value);
}
