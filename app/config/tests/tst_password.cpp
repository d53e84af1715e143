#include "config/password.h"
#include "config/programconfig.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

class TestPassword : public QObject {
    Q_OBJECT

private slots:
    void digest_data();
    void digest();
    void settingsGate();
    void newPassword();
};

void TestPassword::digest_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    // Only as many bytes as characters enter the digest: "abc" hashes 'a', 0, 'b'.
    QTest::newRow("three characters") << "abc"
                                      << "70350f6027bce3713f6b76473084309b";
    QTest::newRow("same first letter ab") << "ab"
                                          << "4144e195f46de78a3623da7364d04f11";
    QTest::newRow("same first letter az") << "az"
                                          << "4144e195f46de78a3623da7364d04f11";
    QTest::newRow("four characters") << "pass"
                                     << "19fab0dd18aeb2d4f39f50e77787c18d";
    // U+0436 contributes its low byte 0x36 first: little-endian whatever the host.
    QTest::newRow("cyrillic") << QStringLiteral("ж") << "1679091c5a880faf6fb5e6087eb1b2dc";
    QTest::newRow("empty") << ""
                           << "d41d8cd98f00b204e9800998ecf8427e";
}

void TestPassword::digest()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    Cmd5Capi md5;
    QCOMPARE(md5.digest(text), expected);
    QCOMPARE(md5.result(), expected);
    QVERIFY(QRegularExpression("^[0-9a-f]{32}$").match(md5.result()).hasMatch());
}

void TestPassword::settingsGate()
{
    // Runs first of the flag tests: the flag is process-wide and never cleared.
    QVERIFY(!Password::isAuthorised());

    // No password set: only an empty entry opens.
    QVERIFY(!Password::authorise(Password::promptValue("x"), QString()));
    QVERIFY(!Password::isAuthorised());

    const QString stored = Password::digest("ab");
    QVERIFY(Password::isSet(stored));
    QVERIFY(!Password::authorise(Password::promptValue(""), stored));
    QVERIFY(!Password::authorise(Password::promptValue("ba"), stored));
    QVERIFY(!Password::matches(stored.toUpper(), stored)); // exact, case-sensitive
    QVERIFY(!Password::matches(stored.left(31), stored));
    QVERIFY(!Password::isAuthorised());

    // "az" has the same digest as "ab" and opens it; after that no prompt is needed.
    QVERIFY(Password::authorise(Password::promptValue("az"), stored));
    QVERIFY(Password::isAuthorised());
    QVERIFY(Password::authorise(Password::promptValue("wrong"), stored));
}

void TestPassword::newPassword()
{
    QVERIFY(!Password::newPasswordAcceptable("", ""));
    QVERIFY(!Password::newPasswordAcceptable("secret", "secreT"));
    QVERIFY(Password::newPasswordAcceptable("secret", "secret"));

    QTemporaryDir dir;
    ProgramConfig c;
    c.iniPath = dir.filePath("KESTRA.ini");
    QString error;
    QVERIFY(!Password::storeNewPassword(c, "", &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(c.passwordDigest.isEmpty());

    QVERIFY(Password::storeNewPassword(c, "pass"));
    ProgramConfig r;
    QVERIFY(r.load(c.iniPath));
    QCOMPARE(r.passwordDigest, QStringLiteral("19fab0dd18aeb2d4f39f50e77787c18d"));

    // A password that cannot be saved is not in force: the old one stays.
    c.iniPath = dir.filePath("KESTRA.ini/inside-a-file.ini");
    error.clear();
    QVERIFY(!Password::storeNewPassword(c, "other", &error));
    QVERIFY(!error.isEmpty());
    QCOMPARE(c.passwordDigest, QStringLiteral("19fab0dd18aeb2d4f39f50e77787c18d"));
}

QTEST_GUILESS_MAIN(TestPassword)
#include "tst_password.moc"
