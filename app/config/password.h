#pragma once

#include <QString>

class ProgramConfig;

// The settings password is kept only as a digest in the configuration; an empty digest means
// that no password is set.

// The password digest. Stored configurations and other copies of the program compare its
// result, so its exact form must not change: MD5 over the first n bytes of the text's UTF-16LE
// form, n being the number of UTF-16 code units (only the first half of the bytes enter it),
// as 32 lower-case hexadecimal digits.
class Cmd5Capi {
public:
    QString digest(const QString& text);
    // The result of the last digest() call.
    QString result() const { return m_result; }

private:
    QString m_result;
};

namespace Password {

// The digest of a text, as above.
QString digest(const QString& text);

// What the password prompt yields on OK: the digest of the entry, or an empty text when
// nothing was entered.
QString promptValue(const QString& entered);

// Exact, case-sensitive comparison of a prompt value (or the value a client sends) with the
// stored digest, in time that does not depend on where they differ.
bool matches(const QString& value, const QString& storedDigest);

// Whether a stored digest demands a password from a remote client (the server's first word).
inline bool isSet(const QString& storedDigest)
{
    return !storedDigest.isEmpty();
}

// The new-password dialog accepts a first entry that is not empty and equals the second.
bool newPasswordAcceptable(const QString& entry, const QString& confirmation);

// Stores the digest of a new password in the configuration and saves the configuration.
// Refuses an empty password (a password can be replaced through the dialogs, not removed).
bool storeNewPassword(ProgramConfig& config, const QString& password, QString* error = nullptr);

// Process-wide "authorised" flag: false at start, set once the password has been entered
// correctly for the instrument settings, never cleared during the run. Any thread may read it.
bool isAuthorised();
void setAuthorised();

// The check in front of the instrument settings: true when the flag is already set, or when
// the prompt value matches the stored digest, which then sets the flag. With no password set
// only an empty entry matches.
bool authorise(const QString& promptValue, const QString& storedDigest);

} // namespace Password
