// Spanish amounts in words, in groups of three digits on the long scale
// (millardo = 10^9, billón = 10^12), the hundredths joined with "con".

#include "rptnumberwords_p.h"

#include <QStringList>

namespace RptNumberWordsDetail {
namespace {

const char *const spanishSmall[] = { "cero", "uno", "dos", "tres", "cuatro", "cinco", "seis",
    "siete", "ocho", "nueve", "diez", "once", "doce", "trece", "catorce", "quince", "dieciséis",
    "diecisiete", "dieciocho", "diecinueve", "veinte", "veintiuno", "veintidós", "veintitrés",
    "veinticuatro", "veinticinco", "veintiséis", "veintisiete", "veintiocho", "veintinueve" };

const char *const spanishTens[] = { "", "", "", "treinta", "cuarenta", "cincuenta", "sesenta",
    "setenta", "ochenta", "noventa" };

// The hundreds above one: dos + cientos, but quinientos, setecientos, novecientos.
const char *const spanishHundreds[] = { "", "", "doscientos", "trescientos", "cuatrocientos",
    "quinientos", "seiscientos", "setecientos", "ochocientos", "novecientos" };

// 1..999. Before a noun (mil, millón, ...) "uno" loses its ending: "un",
// "veintiún", "treinta y un".
QString belowThousand(int n, bool beforeNoun)
{
    QString words;
    const int hundreds = n / 100;
    const int rest = n % 100;
    if (hundreds == 1)
        words = rest == 0 ? QStringLiteral("cien") : QStringLiteral("ciento");
    else if (hundreds > 1)
        words = QString::fromUtf8(spanishHundreds[hundreds]);
    if (rest == 0)
        return words;
    if (!words.isEmpty())
        words += QLatin1Char(' ');
    if (rest < 30) {
        if (beforeNoun && rest == 1)
            words += QStringLiteral("un");
        else if (beforeNoun && rest == 21)
            words += QStringLiteral("veintiún");
        else
            words += QString::fromUtf8(spanishSmall[rest]);
        return words;
    }
    words += QLatin1String(spanishTens[rest / 10]);
    const int units = rest % 10;
    if (units == 1 && beforeNoun)
        words += QStringLiteral(" y un");
    else if (units > 0)
        words += QStringLiteral(" y ") + QString::fromUtf8(spanishSmall[units]);
    return words;
}

struct SpanishScale
{
    qint64 scale;
    const char *singular; // after "un"
    const char *plural;
};

const SpanishScale spanishScales[] = {
    { Q_INT64_C(1000000000000), "billón", "billones" },
    { Q_INT64_C(1000000000), "millardo", "millardos" },
    { Q_INT64_C(1000000), "millón", "millones" },
};

QString spanishWords(qint64 n)
{
    if (n == 0)
        return QStringLiteral("cero");
    QStringList parts;
    for (const SpanishScale &scale : spanishScales) {
        const int count = int(n / scale.scale % 1000);
        if (count == 1)
            parts << QStringLiteral("un ") + QString::fromUtf8(scale.singular);
        else if (count > 1)
            parts << belowThousand(count, true) + QLatin1Char(' ')
                    + QString::fromUtf8(scale.plural);
    }
    const int thousands = int(n / 1000 % 1000);
    if (thousands == 1)
        parts << QStringLiteral("mil");
    else if (thousands > 1)
        parts << belowThousand(thousands, true) + QStringLiteral(" mil");
    const int units = int(n % 1000);
    if (units > 0)
        parts << belowThousand(units, false);
    return parts.join(QLatin1Char(' '));
}

} // namespace

QString double2MoneyESP(double x)
{
    Amount amount;
    if (!splitAmount(x, &amount))
        return QString();
    QString words = spanishWords(amount.whole);
    if (amount.negative)
        words.prepend(QStringLiteral("menos "));
    // The hundredths are counted like the cents of a price: 12.05 is
    // "doce con cinco".
    if (amount.hundredths > 0)
        words += QStringLiteral(" con ") + belowThousand(amount.hundredths, false);
    return words;
}

} // namespace RptNumberWordsDetail
