// German amounts in words. Written as one lower-case word per number, the way
// amounts "in Worten" are filled in so that nothing can be slipped between the
// parts: 1234567 is "einemillionzweihundertvierunddreißigtausendfünfhundertsiebenundsechzig".

#include "rptnumberwords_p.h"

namespace RptNumberWordsDetail {
namespace {

const char *const germanSmall[] = { "null", "eins", "zwei", "drei", "vier", "fünf", "sechs",
    "sieben", "acht", "neun", "zehn", "elf", "zwölf", "dreizehn", "vierzehn", "fünfzehn",
    "sechzehn", "siebzehn", "achtzehn", "neunzehn" };

const char *const germanTens[] = { "", "", "zwanzig", "dreißig", "vierzig", "fünfzig", "sechzig",
    "siebzig", "achtzig", "neunzig" };

// How a trailing one is spelt: alone or at the end "eins" (hunderteins), in
// front of "hundert"/"tausend" "ein", in front of the feminine nouns Million,
// Milliarde and Billion "eine".
enum class One { Final, Ein, Eine };

QString oneWord(One form)
{
    switch (form) {
    case One::Final:
        return QStringLiteral("eins");
    case One::Ein:
        return QStringLiteral("ein");
    case One::Eine:
        return QStringLiteral("eine");
    }
    return QString();
}

// 1..99; the units go before the tens, joined with "und".
QString belowHundred(int n, One oneForm)
{
    if (n == 1)
        return oneWord(oneForm);
    if (n < 20)
        return QString::fromUtf8(germanSmall[n]);
    const int units = n % 10;
    const QString tens = QString::fromUtf8(germanTens[n / 10]);
    if (units == 0)
        return tens;
    const QString unitWord
        = units == 1 ? QStringLiteral("ein") : QString::fromUtf8(germanSmall[units]);
    return unitWord + QStringLiteral("und") + tens;
}

// 1..999
QString belowThousand(int n, One oneForm)
{
    QString words;
    const int hundreds = n / 100;
    if (hundreds > 0)
        words = belowHundred(hundreds, One::Ein) + QStringLiteral("hundert");
    if (n % 100 != 0)
        words += belowHundred(n % 100, oneForm);
    return words;
}

struct GermanScale
{
    qint64 scale;
    const char *singular; // after "eine"
    const char *plural;
};

const GermanScale germanScales[] = {
    { Q_INT64_C(1000000000000), "billion", "billionen" },
    { Q_INT64_C(1000000000), "milliarde", "milliarden" },
    { Q_INT64_C(1000000), "million", "millionen" },
};

QString germanWords(qint64 n)
{
    if (n == 0)
        return QStringLiteral("null");
    QString words;
    for (const GermanScale &scale : germanScales) {
        const int count = int(n / scale.scale % 1000);
        if (count == 1)
            words += QStringLiteral("eine") + QLatin1String(scale.singular);
        else if (count > 1)
            words += belowThousand(count, One::Eine) + QLatin1String(scale.plural);
    }
    const int thousands = int(n / 1000 % 1000);
    if (thousands > 0)
        words += belowThousand(thousands, One::Ein) + QStringLiteral("tausend");
    const int units = int(n % 1000);
    if (units > 0)
        words += belowThousand(units, One::Final);
    return words;
}

} // namespace

QString double2MoneyGER(double x)
{
    Amount amount;
    if (!splitAmount(x, &amount))
        return QString();
    QString words = germanWords(amount.whole);
    if (amount.negative)
        words.prepend(QStringLiteral("minus "));
    if (amount.hundredths > 0) {
        // Read as the hundredths are written: 12,05 is "zwölf komma null fünf".
        words += QStringLiteral(" komma ");
        if (amount.hundredths < 10)
            words += QStringLiteral("null ");
        words += belowHundred(amount.hundredths, One::Final);
    }
    return words;
}

} // namespace RptNumberWordsDetail
