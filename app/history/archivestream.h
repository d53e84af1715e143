#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <stdexcept>

class QIODevice;

// Error of the stream codec: the stream ended early, its layout is wrong, or the device failed.
class StreamError : public std::runtime_error {
public:
    enum class Kind { EndOfFile, Format, Device };
    StreamError(Kind kind, const char* what)
        : std::runtime_error(what)
        , m_kind(kind)
    {
    }
    Kind kind() const { return m_kind; }

private:
    Kind m_kind;
};

// Writes the stream form: little-endian numbers, one-byte booleans, 8-byte times and
// length-prefixed UTF-16 texts, with no tags and no padding. The filter index decides which
// records a list writes; without one, every record is written.
class StreamWriter {
public:
    explicit StreamWriter(QIODevice* device);
    explicit StreamWriter(QByteArray* buffer);
    StreamWriter(QIODevice* device, int filterIndex);
    StreamWriter(QByteArray* buffer, int filterIndex);

    int filterIndex() const { return m_filterIndex; }

    void writeBool(bool value);
    void writeByte(quint8 value);
    void writeInt32(qint32 value);
    void writeTime(qint64 value);
    void writeDouble(double value);
    void writeText(const QString& text);

private:
    void put(const void* data, qsizetype size);

    QIODevice* m_device = nullptr;
    QByteArray* m_buffer = nullptr;
    int m_filterIndex;
};

// Reads the stream form. Every read either returns a whole item or throws StreamError; no
// length taken from the stream is allocated before the bytes are there.
class StreamReader {
public:
    // The reader keeps a reference to the bytes; they must outlive it.
    explicit StreamReader(const QByteArray& bytes);
    explicit StreamReader(QIODevice* device);

    // How long to wait for more bytes on a sequential device (a socket) before the stream
    // counts as ended; 0 = do not wait.
    void setWaitTimeout(int milliseconds) { m_waitMs = milliseconds; }

    bool readBool();
    quint8 readByte();
    qint32 readInt32();
    qint64 readTime();
    double readDouble();
    QString readText();

    // Bytes left, or -1 when the device cannot tell (a socket).
    qint64 remaining() const;
    bool atEnd() const;

    // Throws an end-of-file error when the bytes left cannot hold count items of at least
    // minBytesEach. A count below 1 means none: the caller reads no items.
    void checkCount(qint32 count, qint64 minBytesEach) const;

private:
    void take(void* out, qint64 size);
    QByteArray takeBytes(qint64 size);

    const QByteArray* m_bytes = nullptr;
    qint64 m_pos = 0;
    QIODevice* m_device = nullptr;
    int m_waitMs = 0;
};
