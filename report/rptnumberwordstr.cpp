// Turkish amounts in lira and kuruş. As money documents require, each number
// is written as one word ("ikiyüzelli"), and one hundred and one thousand
// stand without "bir" ("yüz", "bin") while a million keeps it ("birmilyon").

#include "rptnumberwords_p.h"

namespace RptNumberWordsDetail {
namespace {

const char *const turkishUnits[]
    = { "", "bir", "iki", "üç", "dört", "beş", "altı", "yedi", "sekiz", "dokuz" };

const char *const turkishTens[]
    = { "", "on", "yirmi", "otuz", "kırk", "elli", "altmış", "yetmiş", "seksen", "doksan" };

// 1..999
QString belowThousand(int n)
{
    QString words;
    const int hundreds = n / 100;
    if (hundreds > 1)
        words += QString::fromUtf8(turkishUnits[hundreds]);
    if (hundreds > 0)
        words += QString::fromUtf8("yüz");
    words += QString::fromUtf8(turkishTens[n / 10 % 10]);
    words += QString::fromUtf8(turkishUnits[n % 10]);
    return words;
}

struct TurkishScale
{
    qint64 scale;
    const char *word;
};

const TurkishScale turkishScales[] = {
    { Q_INT64_C(1000000000000), "trilyon" },
    { Q_INT64_C(1000000000), "milyar" },
    { Q_INT64_C(1000000), "milyon" },
};

} // namespace

QString yaziyaCevir(qint64 number)
{
    if (number < 0)
        return QString();
    if (number == 0)
        return QString::fromUtf8("sıfır");
    QString words;
    for (const TurkishScale &scale : turkishScales) {
        const int count = int(number / scale.scale % 1000);
        if (count > 0)
            words += belowThousand(count) + QLatin1String(scale.word);
    }
    // "bin", not "birbin"; but 101000 is "yüzbirbin".
    const int thousands = int(number / 1000 % 1000);
    if (thousands == 1)
        words += QStringLiteral("bin");
    else if (thousands > 1)
        words += belowThousand(thousands) + QStringLiteral("bin");
    words += belowThousand(int(number % 1000));
    return words;
}

QString double2MoneyTR(double x)
{
    Amount amount;
    if (!splitAmount(x, &amount))
        return QString();
    QString words = yaziyaCevir(amount.whole) + QStringLiteral("#TL#")
        + yaziyaCevir(amount.hundredths) + QString::fromUtf8("#KRŞ");
    if (amount.negative)
        words.prepend(QStringLiteral("eksi "));
    return words;
}

} // namespace RptNumberWordsDetail
