// Ukrainian amounts in hryvnias and kopiykas. Both currency nouns and тисяча
// are feminine (одна, дві); мільйон, мільярд and трильйон are masculine. Every
// noun takes the form its count asks for: 1, 21 одна гривня; 2-4, 22-24 дві
// гривні; 0, 5-20, 25-30 п’ять гривень.

#include "rptnumberwords_p.h"

#include <QStringList>

namespace RptNumberWordsDetail {
namespace {

const char *const ukrainianSmall[] = { "нуль", "один", "два", "три", "чотири", "п’ять", "шість",
    "сім", "вісім", "дев’ять", "десять", "одинадцять", "дванадцять", "тринадцять", "чотирнадцять",
    "п’ятнадцять", "шістнадцять", "сімнадцять", "вісімнадцять", "дев’ятнадцять" };

const char *const ukrainianTens[] = { "", "", "двадцять", "тридцять", "сорок", "п’ятдесят",
    "шістдесят", "сімдесят", "вісімдесят", "дев’яносто" };

const char *const ukrainianHundreds[] = { "", "сто", "двісті", "триста", "чотириста", "п’ятсот",
    "шістсот", "сімсот", "вісімсот", "дев’ятсот" };

enum class Gender { Masculine, Feminine };

// Forms of a noun after a count: [0] one, [1] two to four, [2] many.
struct NounForms
{
    const char *forms[3];
};

int formIndex(qint64 count)
{
    const int lastTwo = int(count % 100);
    const int last = int(count % 10);
    if (lastTwo >= 11 && lastTwo <= 14)
        return 2;
    if (last == 1)
        return 0;
    if (last >= 2 && last <= 4)
        return 1;
    return 2;
}

QString nounFor(qint64 count, const NounForms &noun)
{
    return QString::fromUtf8(noun.forms[formIndex(count)]);
}

// 1..999
QString belowThousand(int n, Gender gender)
{
    QStringList words;
    if (n >= 100)
        words << QString::fromUtf8(ukrainianHundreds[n / 100]);
    const int rest = n % 100;
    if (rest >= 20)
        words << QString::fromUtf8(ukrainianTens[rest / 10]);
    const int small = rest >= 20 ? rest % 10 : rest;
    if (small == 1 && gender == Gender::Feminine)
        words << QStringLiteral("одна");
    else if (small == 2 && gender == Gender::Feminine)
        words << QStringLiteral("дві");
    else if (small > 0)
        words << QString::fromUtf8(ukrainianSmall[small]);
    return words.join(QLatin1Char(' '));
}

struct UkrainianScale
{
    qint64 scale;
    Gender gender;
    NounForms noun;
};

const UkrainianScale ukrainianScales[] = {
    { Q_INT64_C(1000000000000), Gender::Masculine, { { "трильйон", "трильйони", "трильйонів" } } },
    { Q_INT64_C(1000000000), Gender::Masculine, { { "мільярд", "мільярди", "мільярдів" } } },
    { Q_INT64_C(1000000), Gender::Masculine, { { "мільйон", "мільйони", "мільйонів" } } },
    { Q_INT64_C(1000), Gender::Feminine, { { "тисяча", "тисячі", "тисяч" } } },
};

const NounForms hryvnia = { { "гривня", "гривні", "гривень" } };
const NounForms kopiyka = { { "копійка", "копійки", "копійок" } };

// The count and its noun: "двадцять одна гривня", "нуль копійок".
QString countedWords(qint64 n, Gender gender, const NounForms &noun)
{
    if (n == 0)
        return QString::fromUtf8(ukrainianSmall[0]) + QLatin1Char(' ') + nounFor(0, noun);
    QStringList parts;
    for (const UkrainianScale &scale : ukrainianScales) {
        const int count = int(n / scale.scale % 1000);
        if (count > 0)
            parts << belowThousand(count, scale.gender) + QLatin1Char(' ')
                    + nounFor(count, scale.noun);
    }
    const int units = int(n % 1000);
    if (units > 0)
        parts << belowThousand(units, gender);
    parts << nounFor(n, noun);
    return parts.join(QLatin1Char(' '));
}

} // namespace

QString double2MoneyUKR(double x)
{
    Amount amount;
    if (!splitAmount(x, &amount))
        return QString();
    QString words = countedWords(amount.whole, Gender::Feminine, hryvnia) + QLatin1Char(' ')
        + countedWords(amount.hundredths, Gender::Feminine, kopiyka);
    if (amount.negative)
        words.prepend(QStringLiteral("мінус "));
    return words;
}

} // namespace RptNumberWordsDetail
