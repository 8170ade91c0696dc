// Amounts written out in words: the English writer word for word as the
// report functions define it, and each other language's grammar at the
// boundaries where it changes (gender, plural forms, joining of tens and
// units, elision, the group nouns).

#include "rptnumberwords.h"
#include "rptnumberwords_p.h"
#include "rptnumberwordsar_p.h"
#include "testmain.h"

#include <QHash>
#include <QRegularExpression>
#include <QTest>

#include <cmath>
#include <limits>

namespace {

const char *const allLanguages[]
    = { "ENG", "UKR", "GER", "ESP", "FR_FR", "FR_BE", "FR_CH", "ITA", "AR", "TR" };

// A row named after its language and amount, e.g. "UKR 21".
void row(const char *language, const char *amount, const char *expected)
{
    QTest::newRow(
        qPrintable(QStringLiteral("%1 %2").arg(QLatin1String(language), QLatin1String(amount))))
        << QString::fromLatin1(language) << QByteArray(amount).toDouble()
        << QString::fromUtf8(expected);
}

void addColumns()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<double>("amount");
    QTest::addColumn<QString>("expected");
}

} // namespace

class NumberWordsTest : public QObject
{
    Q_OBJECT

private:
    void check()
    {
        QFETCH(QString, language);
        QFETCH(double, amount);
        QFETCH(QString, expected);
        QCOMPARE(RptNumberWords::double2Money(amount, language), expected);
    }

private slots:
    void english_data()
    {
        addColumns();
        // The examples the report functions are defined by.
        row("ENG", "21", "twenty-one");
        row("ENG", "105", "one hundred five");
        row("ENG", "1234", "one thousand two hundred thirty-four");
        row("ENG", "2000000", "two million");
        row("ENG", "0", "zero");
        row("ENG", "20", "twenty");
        row("ENG", "99", "ninety-nine");
        row("ENG", "100", "one hundred");
        row("ENG", "12.75", "twelve");
        // Around the definition's boundaries.
        row("ENG", "19", "nineteen");
        row("ENG", "40", "forty");
        row("ENG", "1000", "one thousand");
        row("ENG", "1001", "one thousand one");
        row("ENG", "110000", "one hundred ten thousand");
        row("ENG", "1000000000", "one billion");
        row("ENG", "2147483647",
            "two billion one hundred forty-seven million four hundred eighty-three thousand six "
            "hundred forty-seven");
        // Beyond 2^31, negative, and floating noise.
        row("ENG", "5000000000000", "five trillion");
        row("ENG", "1000000000001", "one trillion one");
        row("ENG", "-42", "minus forty-two");
        row("ENG", "-0.4", "zero");
        row("ENG", "2.9999999999", "three");
    }
    void english() { check(); }

    void ukrainian_data()
    {
        addColumns();
        row("UKR", "0", "нуль гривень нуль копійок");
        row("UKR", "1", "одна гривня нуль копійок");
        row("UKR", "2", "дві гривні нуль копійок");
        row("UKR", "4", "чотири гривні нуль копійок");
        row("UKR", "5", "п’ять гривень нуль копійок");
        row("UKR", "11", "одинадцять гривень нуль копійок");
        row("UKR", "12", "дванадцять гривень нуль копійок");
        row("UKR", "14", "чотирнадцять гривень нуль копійок");
        row("UKR", "20", "двадцять гривень нуль копійок");
        row("UKR", "21", "двадцять одна гривня нуль копійок");
        row("UKR", "22", "двадцять дві гривні нуль копійок");
        row("UKR", "25", "двадцять п’ять гривень нуль копійок");
        row("UKR", "40", "сорок гривень нуль копійок");
        row("UKR", "90", "дев’яносто гривень нуль копійок");
        row("UKR", "111", "сто одинадцять гривень нуль копійок");
        row("UKR", "112", "сто дванадцять гривень нуль копійок");
        row("UKR", "200", "двісті гривень нуль копійок");
        row("UKR", "999", "дев’ятсот дев’яносто дев’ять гривень нуль копійок");
        row("UKR", "1000", "одна тисяча гривень нуль копійок");
        row("UKR", "1001", "одна тисяча одна гривня нуль копійок");
        row("UKR", "2000", "дві тисячі гривень нуль копійок");
        row("UKR", "5000", "п’ять тисяч гривень нуль копійок");
        row("UKR", "11000", "одинадцять тисяч гривень нуль копійок");
        row("UKR", "21000", "двадцять одна тисяча гривень нуль копійок");
        row("UKR", "322000", "триста двадцять дві тисячі гривень нуль копійок");
        row("UKR", "1000000", "один мільйон гривень нуль копійок");
        row("UKR", "2000000", "два мільйони гривень нуль копійок");
        row("UKR", "5000000", "п’ять мільйонів гривень нуль копійок");
        row("UKR", "21000000", "двадцять один мільйон гривень нуль копійок");
        row("UKR", "1000000000", "один мільярд гривень нуль копійок");
        row("UKR", "3000000000", "три мільярди гривень нуль копійок");
        row("UKR", "12000000000000", "дванадцять трильйонів гривень нуль копійок");
        row("UKR", "1234567.89",
            "один мільйон двісті тридцять чотири тисячі п’ятсот шістдесят сім гривень "
            "вісімдесят дев’ять копійок");
        row("UKR", "12.75", "дванадцять гривень сімдесят п’ять копійок");
        row("UKR", "12.01", "дванадцять гривень одна копійка");
        row("UKR", "12.02", "дванадцять гривень дві копійки");
        row("UKR", "12.11", "дванадцять гривень одинадцять копійок");
        row("UKR", "0.29", "нуль гривень двадцять дев’ять копійок");
        row("UKR", "-3.5", "мінус три гривні п’ятдесят копійок");
    }
    void ukrainian() { check(); }

    void german_data()
    {
        addColumns();
        row("GER", "0", "null");
        row("GER", "1", "eins");
        row("GER", "7", "sieben");
        row("GER", "12", "zwölf");
        row("GER", "16", "sechzehn");
        row("GER", "17", "siebzehn");
        row("GER", "20", "zwanzig");
        row("GER", "21", "einundzwanzig");
        row("GER", "30", "dreißig");
        row("GER", "99", "neunundneunzig");
        row("GER", "100", "einhundert");
        row("GER", "101", "einhunderteins");
        row("GER", "121", "einhunderteinundzwanzig");
        row("GER", "1000", "eintausend");
        row("GER", "1001", "eintausendeins");
        row("GER", "21000", "einundzwanzigtausend");
        row("GER", "101000", "einhunderteintausend");
        row("GER", "1000000", "einemillion");
        row("GER", "1000001", "einemillioneins");
        row("GER", "2000000", "zweimillionen");
        row("GER", "21000000", "einundzwanzigmillionen");
        row("GER", "101000000", "einhunderteinemillionen");
        row("GER", "1000000000", "einemilliarde");
        row("GER", "3000000000", "dreimilliarden");
        row("GER", "2000000000000", "zweibillionen");
        row("GER", "1234567",
            "einemillionzweihundertvierunddreißigtausendfünfhundertsiebenundsechzig");
        row("GER", "12.75", "zwölf komma fünfundsiebzig");
        row("GER", "12.05", "zwölf komma null fünf");
        row("GER", "12.01", "zwölf komma null eins");
        row("GER", "-21.5", "minus einundzwanzig komma fünfzig");
    }
    void german() { check(); }

    void spanish_data()
    {
        addColumns();
        row("ESP", "0", "cero");
        row("ESP", "1", "uno");
        row("ESP", "15", "quince");
        row("ESP", "16", "dieciséis");
        row("ESP", "21", "veintiuno");
        row("ESP", "22", "veintidós");
        row("ESP", "30", "treinta");
        row("ESP", "31", "treinta y uno");
        row("ESP", "99", "noventa y nueve");
        row("ESP", "100", "cien");
        row("ESP", "101", "ciento uno");
        row("ESP", "200", "doscientos");
        row("ESP", "500", "quinientos");
        row("ESP", "700", "setecientos");
        row("ESP", "900", "novecientos");
        row("ESP", "1000", "mil");
        row("ESP", "1001", "mil uno");
        row("ESP", "2000", "dos mil");
        row("ESP", "21000", "veintiún mil");
        row("ESP", "31000", "treinta y un mil");
        row("ESP", "100000", "cien mil");
        row("ESP", "101000", "ciento un mil");
        row("ESP", "1000000", "un millón");
        row("ESP", "2000000", "dos millones");
        row("ESP", "21000000", "veintiún millones");
        row("ESP", "1000000000", "un millardo");
        row("ESP", "2500000000", "dos millardos quinientos millones");
        row("ESP", "1000000000000", "un billón");
        row("ESP", "3000000000000", "tres billones");
        row("ESP", "1001001", "un millón mil uno");
        row("ESP", "12.75", "doce con setenta y cinco");
        row("ESP", "12.05", "doce con cinco");
        row("ESP", "-7.5", "menos siete con cincuenta");
    }
    void spanish() { check(); }

    void french_data()
    {
        addColumns();
        row("FR_FR", "0", "zéro");
        row("FR_FR", "1", "un");
        row("FR_FR", "16", "seize");
        row("FR_FR", "17", "dix-sept");
        row("FR_FR", "21", "vingt et un");
        row("FR_FR", "22", "vingt-deux");
        row("FR_FR", "61", "soixante et un");
        row("FR_FR", "70", "soixante-dix");
        row("FR_FR", "71", "soixante et onze");
        row("FR_FR", "77", "soixante-dix-sept");
        row("FR_FR", "80", "quatre-vingts");
        row("FR_FR", "81", "quatre-vingt-un");
        row("FR_FR", "90", "quatre-vingt-dix");
        row("FR_FR", "91", "quatre-vingt-onze");
        row("FR_FR", "99", "quatre-vingt-dix-neuf");
        row("FR_FR", "100", "cent");
        row("FR_FR", "101", "cent un");
        row("FR_FR", "200", "deux cents");
        row("FR_FR", "201", "deux cent un");
        row("FR_FR", "1000", "mille");
        row("FR_FR", "2000", "deux mille");
        row("FR_FR", "21000", "vingt et un mille");
        row("FR_FR", "80000", "quatre-vingt mille");
        row("FR_FR", "200000", "deux cent mille");
        row("FR_FR", "1000000", "un million");
        row("FR_FR", "80000000", "quatre-vingts millions");
        row("FR_FR", "200000000", "deux cents millions");
        row("FR_FR", "1000000000", "un milliard");
        row("FR_FR", "2000000000000", "deux billions");
        row("FR_FR", "12.75", "douze");
        row("FR_FR", "-71", "moins soixante et onze");
        row("FR_BE", "70", "septante");
        row("FR_BE", "71", "septante et un");
        row("FR_BE", "80", "quatre-vingts");
        row("FR_BE", "81", "quatre-vingt-un");
        row("FR_BE", "90", "nonante");
        row("FR_BE", "97", "nonante-sept");
        row("FR_BE", "1780", "mille sept cent quatre-vingts");
        row("FR_CH", "70", "septante");
        row("FR_CH", "80", "huitante");
        row("FR_CH", "81", "huitante et un");
        row("FR_CH", "88", "huitante-huit");
        row("FR_CH", "91", "nonante et un");
        row("FR_CH", "80000", "huitante mille");
    }
    void french() { check(); }

    void italian_data()
    {
        addColumns();
        row("ITA", "0", "zero");
        row("ITA", "1", "uno");
        row("ITA", "3", "tre");
        row("ITA", "17", "diciassette");
        row("ITA", "20", "venti");
        row("ITA", "21", "ventuno");
        row("ITA", "23", "ventitré");
        row("ITA", "28", "ventotto");
        row("ITA", "33", "trentatré");
        row("ITA", "100", "cento");
        row("ITA", "103", "centotré");
        row("ITA", "108", "centotto");
        row("ITA", "180", "centottanta");
        row("ITA", "200", "duecento");
        row("ITA", "1000", "mille");
        row("ITA", "1003", "milletré");
        row("ITA", "2000", "duemila");
        row("ITA", "3000", "tremila");
        row("ITA", "21000", "ventunomila");
        row("ITA", "23000", "ventitremila");
        row("ITA", "1000000", "un milione");
        row("ITA", "2000000", "due milioni");
        row("ITA", "23000000", "ventitré milioni");
        row("ITA", "1200000", "un milione duecentomila");
        row("ITA", "1000000000", "un miliardo");
        row("ITA", "5000000000", "cinque miliardi");
        row("ITA", "1000000000000", "mille miliardi");
        row("ITA", "12.75", "dodici virgola settantacinque");
        row("ITA", "12.05", "dodici virgola zero cinque");
        row("ITA", "-2.5", "meno due virgola cinquanta");
    }
    void italian() { check(); }

    void arabic_data()
    {
        addColumns();
        row("AR", "0", "صفر");
        row("AR", "1", "واحد");
        row("AR", "2", "اثنان");
        row("AR", "3", "ثلاثة");
        row("AR", "10", "عشرة");
        row("AR", "11", "أحد عشر");
        row("AR", "12", "اثنا عشر");
        row("AR", "15", "خمسة عشر");
        row("AR", "20", "عشرون");
        row("AR", "21", "واحد وعشرون");
        row("AR", "25", "خمسة وعشرون");
        row("AR", "100", "مائة");
        row("AR", "200", "مائتان");
        row("AR", "300", "ثلاثمائة");
        row("AR", "1000", "ألف");
        row("AR", "2000", "ألفان");
        row("AR", "3000", "ثلاثة آلاف");
        row("AR", "10000", "عشرة آلاف");
        row("AR", "11000", "أحد عشر ألفًا");
        row("AR", "100000", "مائة ألف");
        row("AR", "101000", "مائة ألف وألف");
        row("AR", "200000", "مائتا ألف");
        row("AR", "1000000", "مليون");
        row("AR", "2000000", "مليونان");
        row("AR", "5000000", "خمسة ملايين");
        row("AR", "1000000000", "مليار");
        row("AR", "7000000000000", "سبعة تريليونات");
        row("AR", "1234", "ألف ومائتان وأربعة وثلاثون");
        row("AR", "12.75", "اثنا عشر فاصلة خمسة وسبعون");
        row("AR", "12.05", "اثنا عشر فاصلة صفر خمسة");
        row("AR", "-3", "سالب ثلاثة");
    }
    void arabic() { check(); }

    void turkish_data()
    {
        addColumns();
        row("TR", "0", "sıfır#TL#sıfır#KRŞ");
        row("TR", "1", "bir#TL#sıfır#KRŞ");
        row("TR", "10", "on#TL#sıfır#KRŞ");
        row("TR", "11", "onbir#TL#sıfır#KRŞ");
        row("TR", "40", "kırk#TL#sıfır#KRŞ");
        row("TR", "66", "altmışaltı#TL#sıfır#KRŞ");
        row("TR", "100", "yüz#TL#sıfır#KRŞ");
        row("TR", "200", "ikiyüz#TL#sıfır#KRŞ");
        row("TR", "1000", "bin#TL#sıfır#KRŞ");
        row("TR", "1001", "binbir#TL#sıfır#KRŞ");
        row("TR", "2000", "ikibin#TL#sıfır#KRŞ");
        row("TR", "101000", "yüzbirbin#TL#sıfır#KRŞ");
        row("TR", "1000000", "birmilyon#TL#sıfır#KRŞ");
        row("TR", "2000000000", "ikimilyar#TL#sıfır#KRŞ");
        row("TR", "3000000000000", "üçtrilyon#TL#sıfır#KRŞ");
        row("TR", "650.5", "altıyüzelli#TL#elli#KRŞ");
        row("TR", "1234.05", "binikiyüzotuzdört#TL#beş#KRŞ");
        row("TR", "-12.75", "eksi oniki#TL#yetmişbeş#KRŞ");
    }
    void turkish() { check(); }

    void unknownLanguageWritesEnglish_data()
    {
        QTest::addColumn<QString>("language");
        QTest::newRow("empty") << QString();
        QTest::newRow("lower case eng") << QStringLiteral("eng");
        QTest::newRow("lower case ukr") << QStringLiteral("ukr");
        QTest::newRow("FR") << QStringLiteral("FR");
        QTest::newRow("DE") << QStringLiteral("DE");
        QTest::newRow("padded") << QStringLiteral(" GER");
    }
    void unknownLanguageWritesEnglish()
    {
        QFETCH(QString, language);
        QCOMPARE(RptNumberWords::double2Money(1234, language),
            QStringLiteral("one thousand two hundred thirty-four"));
    }

    void outOfRangeGivesEmptyText_data()
    {
        QTest::addColumn<double>("amount");
        QTest::newRow("NaN") << std::numeric_limits<double>::quiet_NaN();
        QTest::newRow("infinity") << std::numeric_limits<double>::infinity();
        QTest::newRow("minus infinity") << -std::numeric_limits<double>::infinity();
        QTest::newRow("10^15") << 1e15;
        QTest::newRow("-10^15") << -1e15;
        QTest::newRow("1e300") << 1e300;
    }
    void outOfRangeGivesEmptyText()
    {
        QFETCH(double, amount);
        for (const char *language : allLanguages) {
            QTest::ignoreMessage(QtWarningMsg,
                QRegularExpression(
                    QStringLiteral("^RptNumberWords::double2Money\\(value: .*, language: \"%1\"\\) "
                                   "value out of range$")
                        .arg(QLatin1String(language))));
            QVERIFY2(
                RptNumberWords::double2Money(amount, QLatin1String(language)).isEmpty(), language);
        }
    }

    // Every language writes every amount of its range as tidy text, and no
    // two whole amounts alike: a lost group or digit shows as a duplicate.
    void everyLanguageWritesDistinctTidyText_data()
    {
        QTest::addColumn<QString>("language");
        for (const char *language : allLanguages)
            QTest::newRow(language) << QString::fromLatin1(language);
    }
    void everyLanguageWritesDistinctTidyText()
    {
        QFETCH(QString, language);
        QList<qint64> amounts;
        for (qint64 n = 0; n <= 2100; ++n)
            amounts << n;
        for (qint64 scale = 1000; scale <= Q_INT64_C(100000000000000); scale *= 10) {
            for (qint64 n : { Q_INT64_C(1), Q_INT64_C(2), Q_INT64_C(3), Q_INT64_C(11),
                     Q_INT64_C(21), Q_INT64_C(101), Q_INT64_C(999) })
                for (qint64 amount : { n * scale, n * scale + 1, n * scale + 80 }) {
                    if (amount <= qint64(RptNumberWords::maxValue()))
                        amounts << amount;
                }
        }
        for (qint64 n = 1000; n <= 1100000; n += 1000)
            amounts << n;
        amounts << qint64(RptNumberWords::maxValue());
        QHash<QString, qint64> seen;
        for (qint64 n : amounts) {
            const QString words = RptNumberWords::double2Money(double(n), language);
            const QByteArray what = QByteArray::number(n) + " -> " + words.toUtf8();
            QVERIFY2(!words.isEmpty(), what.constData());
            QVERIFY2(words.trimmed() == words, what.constData());
            QVERIFY2(!words.contains(QLatin1String("  ")), what.constData());
            const qint64 earlier = seen.value(words, n);
            if (earlier != n)
                QFAIL(("same words as " + QByteArray::number(earlier) + ": " + what).constData());
            seen.insert(words, n);
        }
    }

    void splitsIntoWholeAndHundredths_data()
    {
        QTest::addColumn<double>("amount");
        QTest::addColumn<bool>("negative");
        QTest::addColumn<qint64>("whole");
        QTest::addColumn<int>("hundredths");
        QTest::newRow("0.29") << 0.29 << false << qint64(0) << 29;
        QTest::newRow("1.1") << 1.1 << false << qint64(1) << 10;
        QTest::newRow("2.999 carries") << 2.999 << false << qint64(3) << 0;
        QTest::newRow("-12.5") << -12.5 << true << qint64(12) << 50;
        QTest::newRow("-0.001 is zero") << -0.001 << false << qint64(0) << 0;
        QTest::newRow("largest") << RptNumberWords::maxValue() << false << qint64(999999999999999)
                                 << 0;
    }
    void splitsIntoWholeAndHundredths()
    {
        QFETCH(double, amount);
        RptNumberWordsDetail::Amount split;
        QVERIFY(RptNumberWordsDetail::splitAmount(amount, &split));
        QTEST(split.negative, "negative");
        QTEST(split.whole, "whole");
        QTEST(split.hundredths, "hundredths");
    }

    void arabicWordsOfDigits_data()
    {
        QTest::addColumn<QString>("digits");
        QTest::addColumn<bool>("feminine");
        QTest::addColumn<QString>("expected");
        auto add = [](const char *name, const char *digits, bool feminine, const char *expected) {
            QTest::newRow(name) << QString::fromLatin1(digits) << feminine
                                << QString::fromUtf8(expected);
        };
        add("leading zeros", "007", false, "سبعة");
        add("feminine 1", "1", true, "واحدة");
        add("feminine 2", "2", true, "اثنتان");
        add("feminine 3", "3", true, "ثلاث");
        add("feminine 11", "11", true, "إحدى عشرة");
        add("feminine 12", "12", true, "اثنتا عشرة");
        add("feminine 13", "13", true, "ثلاث عشرة");
        add("feminine 21", "21", true, "إحدى وعشرون");
        add("feminine 3000 keeps masculine thousands", "3003", true, "ثلاثة آلاف وثلاث");
        add("quadrillion", "1000000000000000", false, "كوادريليون");
        add("quintillions", "5000000000000000000", false, "خمسة كوينتليونات");
        add("sextillions", "12000000000000000000000", false, "اثنا عشر سكستليونًا");
        add("largest", "999999999999999999999999", false,
            "تسعمائة وتسعة وتسعون سكستليونًا وتسعمائة وتسعة وتسعون كوينتليونًا وتسعمائة وتسعة "
            "وتسعون كوادريليونًا وتسعمائة وتسعة وتسعون تريليونًا وتسعمائة وتسعة وتسعون مليارًا "
            "وتسعمائة وتسعة وتسعون مليونًا وتسعمائة وتسعة وتسعون ألفًا وتسعمائة وتسعة وتسعون");
        add("too many digits", "1000000000000000000000000", false, "");
        add("not a number", "12a", false, "");
        add("sign", "-5", false, "");
        add("empty", "", false, "");
    }
    void arabicWordsOfDigits()
    {
        QFETCH(QString, digits);
        QFETCH(bool, feminine);
        QFETCH(QString, expected);
        const NumberToArabicWord number(
            digits, feminine ? NumberToArabicWord::Feminine : NumberToArabicWord::Masculine);
        QCOMPARE(number.isValid(), !expected.isEmpty());
        QCOMPARE(number.words(), expected);
    }

    void turkishWordsOfNegativeNumberAreEmpty()
    {
        QVERIFY(RptNumberWordsDetail::yaziyaCevir(-1).isEmpty());
        QCOMPARE(RptNumberWordsDetail::yaziyaCevir(1001001), QStringLiteral("birmilyonbinbir"));
    }

    void frenchVariantOutOfRangeWritesFrance()
    {
        QCOMPARE(
            RptNumberWordsDetail::double2MoneyFrench(71, 7), QStringLiteral("soixante et onze"));
    }
};

YXA_TEST_CLASS(NumberWordsTest)

#include "tst_numberwords.moc"
