#include "remote/remoteprotocol.h"

#include <QHostAddress>

namespace Remote {

namespace {

// The leading decimal number of a text, as the C library's text-to-integer rule reads it.
quint32 leadingNumber(const QString& text)
{
    qsizetype i = 0;
    while (i < text.size() && text[i].isSpace())
        ++i;
    quint64 value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = value * 10 + static_cast<quint64>(text[i].unicode() - u'0');
        if (value > 0xFFFFFFFFu)
            return 0xFFFFFFFFu;
    }
    return static_cast<quint32>(value);
}

} // namespace

bool parseServer(const QString& text, QString* host, quint16* port)
{
    const qsizetype colon = text.indexOf(u':');
    if (colon <= 0)
        return false;
    const quint32 number = leadingNumber(text.mid(colon + 1));
    // A port beyond 16 bits cannot be reached; it is refused rather than cut.
    if (number == 0 || number > 0xFFFF)
        return false;
    *host = text.left(colon);
    *port = static_cast<quint16>(number);
    return true;
}

bool acceptServerEntry(const QString& text, QString* listed)
{
    static const QString allowed = QStringLiteral("\\/abcdefghijklmnopqrstuvwxyz1234567890.-_");
    const qsizetype colon = text.indexOf(u':');
    if (colon < 0)
        return false;
    const QString host = text.left(colon).toLower();
    if (host.isEmpty() || !allowed.contains(host[0]))
        return false;
    const quint32 port = leadingNumber(text.mid(colon + 1));
    if (port == 0 || port > 0xFFFF)
        return false;
    *listed = host + QLatin1Char(':') + QString::number(port);
    return true;
}

std::optional<std::pair<QString, quint16>> parseListen(const QString& text)
{
    const QString value = text.trimmed();
    const qsizetype colon = value.lastIndexOf(u':');
    QString address = colon < 0 ? QString() : value.left(colon);
    if (address.startsWith(u'[') && address.endsWith(u']'))
        address = address.mid(1, address.size() - 2);
    else if (address.contains(u':'))
        return std::nullopt; // an IPv6 address needs its brackets before the port
    bool ok = false;
    const int port = value.mid(colon + 1).toInt(&ok);
    if (!ok || port < 0 || port > 65535 || (colon >= 0 && QHostAddress(address).isNull()))
        return std::nullopt;
    return std::pair { address, quint16(port) };
}

} // namespace Remote
