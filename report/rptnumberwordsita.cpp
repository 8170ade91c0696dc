// Italian amounts in words. Below a million a number is one word
// ("duemilatrecentoventitré"); milioni and miliardi stand apart ("tre milioni
// duecentomila"), and thousands of miliardi are counted as such ("mille miliardi").

#include "rptnumberwords_p.h"

#include <QStringList>

namespace RptNumberWordsDetail {
namespace {

const char *const italianSmall[] = { "zero", "uno", "due", "tre", "quattro", "cinque", "sei",
    "sette", "otto", "nove", "dieci", "undici", "dodici", "tredici", "quattordici", "quindici",
    "sedici", "diciassette", "diciotto", "diciannove" };

const char *const italianTens[] = { "", "", "venti", "trenta", "quaranta", "cinquanta", "sessanta",
    "settanta", "ottanta", "novanta" };

// 1..99. The tens lose their last vowel before uno and otto: ventuno, trentotto.
QString belowHundred(int n)
{
    if (n < 20)
        return QLatin1String(italianSmall[n]);
    QString tens = QLatin1String(italianTens[n / 10]);
    const int units = n % 10;
    if (units == 1 || units == 8)
        tens.chop(1);
    return units == 0 ? tens : tens + QLatin1String(italianSmall[units]);
}

// 1..999. cento drops its o before otto and ottanta: centotto, centottanta.
QString belowThousand(int n)
{
    const int hundreds = n / 100;
    const int rest = n % 100;
    QString words;
    if (hundreds > 0) {
        words = hundreds == 1 ? QString() : QLatin1String(italianSmall[hundreds]);
        words += QStringLiteral("cento");
        if (rest == 8 || rest / 10 == 8)
            words.chop(1);
    }
    if (rest > 0)
        words += belowHundred(rest);
    return words;
}

// 1..999999 as one word: mille, duemila, ventunomila, centomilauno.
QString belowMillion(int n)
{
    const int thousands = n / 1000;
    const int units = n % 1000;
    QString words;
    if (thousands == 1)
        words = QStringLiteral("mille");
    else if (thousands > 1)
        words = belowThousand(thousands) + QStringLiteral("mila");
    if (units > 0)
        words += belowThousand(units);
    // A compound that ends in tre stresses it: ventitré, centotré, milletré.
    if (words.endsWith(QLatin1String("tre")) && words.size() > 3) {
        words.chop(1);
        words += QChar(0x00E9);
    }
    return words;
}

QString italianWords(qint64 n)
{
    if (n == 0)
        return QStringLiteral("zero");
    QStringList parts;
    // Miliardi run up to 999999 so that 10^12 reads "mille miliardi".
    const int billions = int(n / Q_INT64_C(1000000000));
    if (billions == 1)
        parts << QStringLiteral("un miliardo");
    else if (billions > 1)
        parts << belowMillion(billions) + QStringLiteral(" miliardi");
    const int millions = int(n / 1000000 % 1000);
    if (millions == 1)
        parts << QStringLiteral("un milione");
    else if (millions > 1)
        parts << belowMillion(millions) + QStringLiteral(" milioni");
    const int rest = int(n % 1000000);
    if (rest > 0)
        parts << belowMillion(rest);
    return parts.join(QLatin1Char(' '));
}

} // namespace

QString double2MoneyITA(double x)
{
    Amount amount;
    if (!splitAmount(x, &amount))
        return QString();
    QString words = italianWords(amount.whole);
    if (amount.negative)
        words.prepend(QStringLiteral("meno "));
    if (amount.hundredths > 0) {
        // Read as written: 12,05 is "dodici virgola zero cinque".
        words += QStringLiteral(" virgola ");
        if (amount.hundredths < 10)
            words += QStringLiteral("zero ");
        words += belowMillion(amount.hundredths);
    }
    return words;
}

} // namespace RptNumberWordsDetail
