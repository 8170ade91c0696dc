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
    // A path is at most 256 octets with its angle brackets (RFC 5321,
    // 4.5.3.1.3); a longer one no server takes, and it could not be
    // written into a header line either.
    if (address.toUtf8().size() > 254)
        return false;
    for (const QChar ch : address) {
        if (ch == QLatin1Char('\r') || ch == QLatin1Char('\n') || ch == QLatin1Char('<')
            || ch == QLatin1Char('>'))
            return false;
    }
    return true;
}
