#include "emailaddress.h"

EmailAddress::EmailAddress(const QString &address, const QString &name, QObject *parent)
    : QObject(parent)
    , name(name)
    , address(address)
{
}

void EmailAddress::setName(const QString &name)
{
    this->name = name;
}

void EmailAddress::setAddress(const QString &address)
{
    this->address = address;
}

QString EmailAddress::getName() const
{
    return name;
}

QString EmailAddress::getAddress() const
{
    return address;
}

bool EmailAddress::isEnvelopeSafe(const QString &address)
{
    for (const QChar ch : address) {
        if (ch == QLatin1Char('\r') || ch == QLatin1Char('\n') || ch == QLatin1Char('<')
            || ch == QLatin1Char('>'))
            return false;
    }
    return true;
}
