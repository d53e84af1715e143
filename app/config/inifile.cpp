#include "config/inifile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStringDecoder>

#include <cerrno>
#include <cstring>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool isSectionHeader(const QString& trimmed)
{
    return trimmed.startsWith(QLatin1Char('[')) && trimmed.indexOf(QLatin1Char(']')) > 0;
}

QString sectionName(const QString& trimmed)
{
    return trimmed.mid(1, trimmed.indexOf(QLatin1Char(']')) - 1).trimmed();
}

// Key of a "key=value" line, or a null string for comments and other lines.
QString keyOf(const QString& line)
{
    const QString trimmed = line.trimmed();
    if (trimmed.isEmpty() || trimmed.startsWith(QLatin1Char(';')) || trimmed.startsWith(QLatin1Char('#')))
        return {};
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    if (eq < 0)
        return {};
    return line.left(eq).trimmed();
}

QString valueOf(const QString& line)
{
    return line.mid(line.indexOf(QLatin1Char('=')) + 1).trimmed();
}

QString decode(const QByteArray& bytes)
{
    if (bytes.startsWith("\xFF\xFE")) {
        QStringDecoder utf16(QStringDecoder::Utf16LE);
        return utf16(bytes.mid(2));
    }
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(bytes.mid(3));
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8(bytes);
    // Files written by older copies may be in an 8-bit code page; keep their bytes rather
    // than replacing them.
    if (utf8.hasError())
        text = QString::fromLatin1(bytes);
    return text;
}

} // namespace

IniFile::IniFile(const QString& path)
    : m_path(path)
{
}

bool IniFile::load()
{
    m_lines.clear();
    m_error.clear();
    QFile file(m_path);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly)) {
        m_error = QCoreApplication::translate("IniFile", "Cannot read the settings file %1: %2")
                      .arg(QDir::toNativeSeparators(m_path), file.errorString());
        return false;
    }
    if (file.size() > MaxFileSize) {
        m_error
            = QCoreApplication::translate("IniFile", "The settings file %1 is larger than %2 bytes and was not read.")
                  .arg(QDir::toNativeSeparators(m_path), QString::number(MaxFileSize));
        return false;
    }
    // The size check above may race with a writer; never read more than the bound.
    const QByteArray bytes = file.read(MaxFileSize + 1);
    if (bytes.size() > MaxFileSize) {
        m_error
            = QCoreApplication::translate("IniFile", "The settings file %1 is larger than %2 bytes and was not read.")
                  .arg(QDir::toNativeSeparators(m_path), QString::number(MaxFileSize));
        return false;
    }
    QString text = decode(bytes);
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    m_lines = text.split(QLatin1Char('\n'));
    if (!m_lines.isEmpty() && m_lines.last().isEmpty())
        m_lines.removeLast();
    return true;
}

bool IniFile::save()
{
    m_error.clear();
    const QFileInfo info(m_path);
    if (!QDir().mkpath(info.absolutePath())) {
        m_error = QCoreApplication::translate("IniFile", "Cannot create the folder %1")
                      .arg(QDir::toNativeSeparators(info.absolutePath()));
        return false;
    }
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly)) {
        m_error = QCoreApplication::translate("IniFile", "Cannot write the settings file %1: %2")
                      .arg(QDir::toNativeSeparators(m_path), file.errorString());
        return false;
    }
    QByteArray bytes;
    for (const QString& line : m_lines) {
        bytes += line.toUtf8();
        bytes += '\n';
    }
    file.write(bytes);
    // The settings hold the password digest: only their owner may read them, whatever the
    // umask, and the mode is set before the new file takes the old one's place.
    // Rewritten by root (setting a station's password), the file stays its owner's: the
    // owner of the old file, or of the folder for a new one.
    struct stat owner { };
    const bool keepOwner = ::geteuid() == 0
        && (::stat(QFile::encodeName(m_path).constData(), &owner) == 0
            || ::stat(QFile::encodeName(info.absolutePath()).constData(), &owner) == 0);
    if (::fchmod(file.handle(), S_IRUSR | S_IWUSR) != 0
        || (keepOwner && ::fchown(file.handle(), owner.st_uid, owner.st_gid) != 0)) {
        m_error = QCoreApplication::translate("IniFile", "Cannot write the settings file %1: %2")
                      .arg(QDir::toNativeSeparators(m_path), QString::fromLocal8Bit(std::strerror(errno)));
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        m_error = QCoreApplication::translate("IniFile", "Cannot write the settings file %1: %2")
                      .arg(QDir::toNativeSeparators(m_path), file.errorString());
        return false;
    }
    return true;
}

IniFile::Span IniFile::findSection(const QString& section) const
{
    Span span;
    const QString wanted = section.trimmed();
    for (qsizetype i = 0; i < m_lines.size(); ++i) {
        const QString trimmed = m_lines[i].trimmed();
        if (!isSectionHeader(trimmed))
            continue;
        if (span.header >= 0) {
            span.end = i;
            return span;
        }
        if (sectionName(trimmed).compare(wanted, Qt::CaseInsensitive) == 0)
            span.header = i;
    }
    span.end = m_lines.size();
    return span;
}

qsizetype IniFile::findKey(const Span& span, const QString& key) const
{
    if (span.header < 0)
        return -1;
    const QString wanted = key.trimmed();
    for (qsizetype i = span.header + 1; i < span.end; ++i) {
        const QString k = keyOf(m_lines[i]);
        if (!k.isNull() && k.compare(wanted, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

bool IniFile::contains(const QString& section, const QString& key) const
{
    return findKey(findSection(section), key) >= 0;
}

QString IniFile::readString(const QString& section, const QString& key, const QString& defaultValue) const
{
    const qsizetype line = findKey(findSection(section), key);
    QString value = line < 0 ? defaultValue : valueOf(m_lines[line]);
    if (value.size() >= 2 && (value.front() == QLatin1Char('"') || value.front() == QLatin1Char('\''))
        && value.back() == value.front())
        value = value.mid(1, value.size() - 2);
    value.truncate(MaxTextLength);
    return value;
}

int IniFile::readInt(const QString& section, const QString& key, int defaultValue) const
{
    const qsizetype line = findKey(findSection(section), key);
    if (line < 0)
        return defaultValue;
    const QString value = valueOf(m_lines[line]);
    if (value.isEmpty())
        return defaultValue;
    qsizetype i = 0;
    bool negative = false;
    if (value[i] == QLatin1Char('-') || value[i] == QLatin1Char('+')) {
        negative = value[i] == QLatin1Char('-');
        ++i;
    }
    qint64 number = 0;
    for (; i < value.size() && value[i].isDigit() && value[i].unicode() < 128; ++i) {
        number = number * 10 + (value[i].unicode() - '0');
        if (number > qint64(std::numeric_limits<int>::max()) + 1)
            break;
    }
    if (negative)
        number = -number;
    if (number > std::numeric_limits<int>::max())
        return std::numeric_limits<int>::max();
    if (number < std::numeric_limits<int>::min())
        return std::numeric_limits<int>::min();
    return int(number);
}

bool IniFile::writeString(const QString& section, const QString& key, const QString& value)
{
    static const QRegularExpression lineBreak(QStringLiteral("[\\r\\n]"));
    const QString k = key.trimmed();
    const QString s = section.trimmed();
    if (k.isEmpty() || k.contains(QLatin1Char('=')) || k.contains(lineBreak) || k.startsWith(QLatin1Char('['))
        || k.startsWith(QLatin1Char(';')) || s.contains(QLatin1Char(']')) || s.contains(lineBreak))
        return false;
    QString v = value;
    v.replace(lineBreak, QStringLiteral(" "));
    const QString line = k + QLatin1Char('=') + v;

    const Span span = findSection(s);
    if (span.header < 0) {
        if (!m_lines.isEmpty() && !m_lines.last().trimmed().isEmpty())
            m_lines.append(QString());
        m_lines.append(QLatin1Char('[') + s + QLatin1Char(']'));
        m_lines.append(line);
        return true;
    }
    const qsizetype existing = findKey(span, k);
    if (existing >= 0) {
        m_lines[existing] = line;
        return true;
    }
    // After the section's last non-blank line, so that blank separators stay between sections.
    qsizetype at = span.end;
    while (at > span.header + 1 && m_lines[at - 1].trimmed().isEmpty())
        --at;
    m_lines.insert(at, line);
    return true;
}

bool IniFile::writeInt(const QString& section, const QString& key, int value)
{
    return writeString(section, key, QString::number(value));
}
