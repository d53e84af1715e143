#pragma once

#include <QString>
#include <QStringList>

// A small INI store with the semantics the configuration relies on: section and key names are
// compared without regard to case, the first occurrence of a section or key is the one that
// counts, a write updates the key where it stands and keeps every other line of the file, and
// the file is created by the first save. Texts read are cut at 259 characters.
class IniFile {
public:
    static constexpr qsizetype MaxTextLength = 259;
    // Settings files are a few hundred bytes; anything far larger is not ours.
    static constexpr qint64 MaxFileSize = 1024 * 1024;

    explicit IniFile(const QString& path);

    // Reads the file. A missing file reads as an empty one. Returns false, with
    // errorString() set and the contents empty, when the file exists but cannot be read.
    bool load();
    // Writes the contents back, creating the file and its folder when absent. The old file
    // is replaced only once the new one is complete.
    bool save();

    QString path() const { return m_path; }
    QString errorString() const { return m_error; }

    bool contains(const QString& section, const QString& key) const;
    // The value, trimmed, with one pair of enclosing quotes removed, cut at 259 characters;
    // the default when the key is absent.
    QString readString(const QString& section, const QString& key, const QString& defaultValue = {}) const;
    // The leading decimal integer of the value (0 when it has none, saturated at the int
    // range); the default when the key is absent or empty.
    int readInt(const QString& section, const QString& key, int defaultValue) const;

    // Sets the key, in place when it exists (written with the spelling given here), else at
    // the end of its section, else in a new section at the end. Line breaks in the value
    // become blanks so that a value cannot add lines. False for a key that cannot be stored.
    bool writeString(const QString& section, const QString& key, const QString& value);
    bool writeInt(const QString& section, const QString& key, int value);

    QStringList lines() const { return m_lines; }

private:
    struct Span {
        qsizetype header = -1; // line of the section header, -1 when absent
        qsizetype end = 0; // one past the section's last line
    };
    Span findSection(const QString& section) const;
    qsizetype findKey(const Span& span, const QString& key) const;

    QString m_path;
    QString m_error;
    QStringList m_lines;
};
