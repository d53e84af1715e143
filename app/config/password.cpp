#include "config/password.h"

#include "config/programconfig.h"

#include <QCoreApplication>

#include <QByteArray>
#include <QCryptographicHash>

#include <atomic>

namespace {

std::atomic<bool> g_authorised { false };

} // namespace

QString Cmd5Capi::digest(const QString& text)
{
    // The UTF-16LE bytes, whatever the host byte order; only the first size() bytes enter.
    QByteArray bytes;
    bytes.reserve(text.size());
    for (qsizetype i = 0; bytes.size() < text.size(); ++i) {
        const char16_t unit = text.at(i).unicode();
        bytes.append(char(unit & 0xff));
        if (bytes.size() < text.size())
            bytes.append(char(unit >> 8));
    }
    m_result = QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex());
    return m_result;
}

namespace Password {

QString digest(const QString& text)
{
    return Cmd5Capi().digest(text);
}

QString promptValue(const QString& entered)
{
    return entered.isEmpty() ? QString() : digest(entered);
}

bool matches(const QString& value, const QString& storedDigest)
{
    if (value.size() != storedDigest.size())
        return false;
    char16_t difference = 0;
    for (qsizetype i = 0; i < value.size(); ++i)
        difference |= value.at(i).unicode() ^ storedDigest.at(i).unicode();
    return difference == 0;
}

bool newPasswordAcceptable(const QString& entry, const QString& confirmation)
{
    return !entry.isEmpty() && entry == confirmation;
}

bool storeNewPassword(ProgramConfig& config, const QString& password, QString* error)
{
    if (password.isEmpty()) {
        if (error)
            *error = QCoreApplication::translate("Password", "The new password is empty.");
        return false;
    }
    // A password that could not be saved is not in force either.
    const QString previous = config.passwordDigest;
    config.passwordDigest = digest(password);
    if (config.save(error))
        return true;
    config.passwordDigest = previous;
    return false;
}

bool isAuthorised()
{
    return g_authorised.load();
}

void setAuthorised()
{
    g_authorised.store(true);
}

bool authorise(const QString& promptValue, const QString& storedDigest)
{
    if (isAuthorised())
        return true;
    if (!matches(promptValue, storedDigest))
        return false;
    setAuthorised();
    return true;
}

} // namespace Password
