#pragma once

// The language writers behind RptNumberWords::double2Money. Internal to the
// report engine; the tests call them directly.

#include <QString>
#include <QtGlobal>

namespace RptNumberWordsDetail {

// An amount as the writers see it: sign, whole part and hundredths. The
// hundredths are rounded from the double's own fraction, so a carry may move
// the whole part up by one (2.999 becomes 3 and 0 hundredths).
struct Amount
{
    bool negative = false; // set only when the rounded amount is not zero
    qint64 whole = 0;
    int hundredths = 0;

    // For the writers that drop the hundredths: -0.4 is written as zero, not
    // as "minus zero".
    bool negativeWhole() const { return negative && whole != 0; }
};

// False for NaN, infinities and magnitudes whose whole part would exceed
// RptNumberWords::maxValue().
bool splitAmount(double value, Amount *amount);

QString double2MoneyENG(double x);
QString double2MoneyUKR(double x);
QString double2MoneyGER(double x);
QString double2MoneyESP(double x);
QString double2MoneyITA(double x);
QString double2MoneyAR(double x);
QString double2MoneyTR(double x);

// variant 0 France, 1 Belgium, 2 Switzerland (the words for 70, 80 and 90).
enum FrenchVariant { FrenchFrance = 0, FrenchBelgium = 1, FrenchSwitzerland = 2 };
QString double2MoneyFrench(double x, int variant);

// Turkish words of a whole number, written together as on money documents
// ("binikiyüzotuzdört"); 0 is "sıfır". Negative numbers give an empty text.
QString yaziyaCevir(qint64 number);

} // namespace RptNumberWordsDetail
