#include "config/applog.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <memory>
#include <vector>

namespace {

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

const QRegularExpression linePattern(QStringLiteral("^\\d\\d\\.\\d\\d\\.\\d{4}\\t\\d\\d:\\d\\d:\\d\\d\\t(.*)$"));

} // namespace

class TestAppLog : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { AppLog::stop(); }
    void startEmptiesTheFile();
    void startFailureKeepsLoggingOff();
    void lineLayout();
    void sizeRule_data();
    void sizeRule();
    void concurrentWritersLeaveWholeLines();
};

void TestAppLog::startEmptiesTheFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("ProgLogFile.log");
    writeFile(path, "previous run\n");
    QVERIFY(AppLog::start(path));
    QVERIFY(AppLog::isOn());
    QCOMPARE(QFileInfo(path).size(), 0);

    // A missing file is created by the first line, not by the start.
    const QString fresh = dir.filePath("fresh.log");
    QVERIFY(AppLog::start(fresh));
    QVERIFY(!QFile::exists(fresh));
    AppLog::write("first");
    QVERIFY(QFile::exists(fresh));
}

void TestAppLog::startFailureKeepsLoggingOff()
{
    QTemporaryDir dir;
    // A folder in the file's place cannot be opened for writing.
    QVERIFY(QDir(dir.path()).mkdir("ProgLogFile.log"));
    QVERIFY(!AppLog::start(dir.filePath("ProgLogFile.log")));
    QVERIFY(!AppLog::isOn());
    AppLog::write("dropped"); // must neither crash nor create anything
    QVERIFY(QFileInfo(dir.filePath("ProgLogFile.log")).isDir());
}

void TestAppLog::lineLayout()
{
    QCOMPARE(AppLog::formatLine("Device initialized", QDateTime(QDate(2008, 3, 5), QTime(9, 4, 7))),
        QStringLiteral("05.03.2008\t09:04:07\tDevice initialized"));

    QTemporaryDir dir;
    const QString path = dir.filePath("log");
    QVERIFY(AppLog::start(path));
    AppLog::write("Getting history begin.");
    AppLog::write(QStringLiteral("Clearing history end.\n"));
    AppLog::write(QStringLiteral("Порт ±"));
    const QStringList lines = QString::fromUtf8(readAll(path)).split('\n');
    QCOMPARE(lines.size(), 5); // three lines, the empty one a "\n" message leaves, and the end
    QCOMPARE(linePattern.match(lines[0]).captured(1), QStringLiteral("Getting history begin."));
    QCOMPARE(linePattern.match(lines[1]).captured(1), QStringLiteral("Clearing history end."));
    QCOMPARE(lines[2], QString());
    QCOMPARE(linePattern.match(lines[3]).captured(1), QStringLiteral("Порт ±"));
    QCOMPARE(lines[4], QString());
}

void TestAppLog::sizeRule_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<bool>("emptied");
    QTest::newRow("at the limit") << AppLog::MaxSize << false;
    QTest::newRow("one byte beyond") << AppLog::MaxSize + 1 << true;
}

void TestAppLog::sizeRule()
{
    QFETCH(qint64, size);
    QFETCH(bool, emptied);
    QTemporaryDir dir;
    const QString path = dir.filePath("log");
    QVERIFY(AppLog::start(path));
    writeFile(path, QByteArray(size, 'x'));
    AppLog::write("next");
    const QByteArray content = readAll(path);
    QVERIFY(content.endsWith("\tnext\n"));
    if (emptied)
        QVERIFY(linePattern.match(QString::fromUtf8(content.chopped(1))).hasMatch());
    else
        QVERIFY(content.startsWith(QByteArray(size, 'x')));
}

void TestAppLog::concurrentWritersLeaveWholeLines()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("log");
    QVERIFY(AppLog::start(path));
    constexpr int Threads = 8;
    constexpr int Lines = 400;
    const QString payload(80, QLatin1Char('p'));
    std::vector<std::unique_ptr<QThread>> threads;
    for (int t = 0; t < Threads; ++t) {
        threads.emplace_back(QThread::create([t, &payload] {
            for (int n = 0; n < Lines; ++n)
                AppLog::write(QStringLiteral("T%1 N%2 %3").arg(QString::number(t), QString::number(n), payload));
        }));
        threads.back()->start();
    }
    for (auto& thread : threads)
        QVERIFY(thread->wait(60000));

    QStringList lines = QString::fromUtf8(readAll(path)).split('\n');
    QCOMPARE(lines.takeLast(), QString());
    QCOMPARE(lines.size(), Threads * Lines);
    QSet<QString> seen;
    const QRegularExpression message(QStringLiteral("^T(\\d) N(\\d+) p{80}$"));
    for (const QString& line : lines) {
        const QString text = linePattern.match(line).captured(1);
        QVERIFY2(message.match(text).hasMatch(), qPrintable(line));
        seen.insert(text.section(' ', 0, 1));
    }
    QCOMPARE(seen.size(), Threads * Lines);
}

QTEST_GUILESS_MAIN(TestAppLog)
#include "tst_applog.moc"
