// French amounts in words, whole part only, in the traditional spelling:
// hyphens between tens and units below one hundred, "et" without hyphens,
// blanks around "cent", "mille" and the nouns million, milliard and billion.
// The variants differ only in the words for 70, 80 and 90.

#include "rptnumberwords_p.h"

#include <QStringList>

namespace RptNumberWordsDetail {
namespace {

const char *const frenchSmall[] = { "zéro", "un", "deux", "trois", "quatre", "cinq", "six", "sept",
    "huit", "neuf", "dix", "onze", "douze", "treize", "quatorze", "quinze", "seize", "dix-sept",
    "dix-huit", "dix-neuf" };

const char *const frenchTens[] = { "", "", "vingt", "trente", "quarante", "cinquante", "soixante" };

// 1..99. pluralS: whether "quatre-vingts" keeps its s when nothing follows
// (it does at the end of a number and before million, not before mille).
QString belowHundred(int n, int variant, bool pluralS)
{
    if (n < 20)
        return QString::fromUtf8(frenchSmall[n]);
    const int tens = n / 10;
    const int units = n % 10;
    QString tensWord;
    if (tens <= 6) {
        tensWord = QLatin1String(frenchTens[tens]);
    } else if (tens == 7) {
        if (variant == FrenchFrance) {
            // soixante-dix: sixty plus ten to nineteen.
            if (units == 1)
                return QStringLiteral("soixante et onze");
            return QStringLiteral("soixante-") + QString::fromUtf8(frenchSmall[10 + units]);
        }
        tensWord = QStringLiteral("septante");
    } else if (tens == 8) {
        if (variant != FrenchSwitzerland) {
            if (units == 0)
                return pluralS ? QStringLiteral("quatre-vingts") : QStringLiteral("quatre-vingt");
            // No "et" after quatre-vingt: quatre-vingt-un.
            return QStringLiteral("quatre-vingt-") + QString::fromUtf8(frenchSmall[units]);
        }
        tensWord = QStringLiteral("huitante");
    } else {
        if (variant == FrenchFrance)
            return QStringLiteral("quatre-vingt-") + QString::fromUtf8(frenchSmall[10 + units]);
        tensWord = QStringLiteral("nonante");
    }
    if (units == 0)
        return tensWord;
    if (units == 1)
        return tensWord + QStringLiteral(" et un");
    return tensWord + QLatin1Char('-') + QString::fromUtf8(frenchSmall[units]);
}

// 1..999. "cents" takes its s when multiplied and nothing follows, with the
// same exception before mille as quatre-vingts.
QString belowThousand(int n, int variant, bool pluralS)
{
    const int hundreds = n / 100;
    const int rest = n % 100;
    QString words;
    if (hundreds == 1)
        words = QStringLiteral("cent");
    else if (hundreds > 1)
        words = QString::fromUtf8(frenchSmall[hundreds])
            + (rest == 0 && pluralS ? QStringLiteral(" cents") : QStringLiteral(" cent"));
    if (rest > 0) {
        if (!words.isEmpty())
            words += QLatin1Char(' ');
        words += belowHundred(rest, variant, pluralS);
    }
    return words;
}

struct FrenchScale
{
    qint64 scale;
    const char *singular; // after "un"
    const char *plural;
};

const FrenchScale frenchScales[] = {
    { Q_INT64_C(1000000000000), "billion", "billions" },
    { Q_INT64_C(1000000000), "milliard", "milliards" },
    { Q_INT64_C(1000000), "million", "millions" },
};

QString frenchWords(qint64 n, int variant)
{
    if (n == 0)
        return QString::fromUtf8(frenchSmall[0]);
    QStringList parts;
    for (const FrenchScale &scale : frenchScales) {
        const int count = int(n / scale.scale % 1000);
        if (count == 1)
            parts << QStringLiteral("un ") + QLatin1String(scale.singular);
        else if (count > 1)
            parts << belowThousand(count, variant, true) + QLatin1Char(' ')
                    + QLatin1String(scale.plural);
    }
    // mille is invariable and stands without "un".
    const int thousands = int(n / 1000 % 1000);
    if (thousands == 1)
        parts << QStringLiteral("mille");
    else if (thousands > 1)
        parts << belowThousand(thousands, variant, false) + QStringLiteral(" mille");
    const int units = int(n % 1000);
    if (units > 0)
        parts << belowThousand(units, variant, true);
    return parts.join(QLatin1Char(' '));
}

} // namespace

QString double2MoneyFrench(double x, int variant)
{
    Amount amount;
    if (!splitAmount(x, &amount))
        return QString();
    if (variant < FrenchFrance || variant > FrenchSwitzerland)
        variant = FrenchFrance;
    const QString words = frenchWords(amount.whole, variant);
    return amount.negativeWhole() ? QStringLiteral("moins ") + words : words;
}

} // namespace RptNumberWordsDetail
