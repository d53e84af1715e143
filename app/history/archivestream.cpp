#include "history/archivestream.h"

#include "history/viewflags.h"

#include <QIODevice>
#include <QStringDecoder>

#include <bit>
#include <cstring>

static_assert(std::endian::native == std::endian::little, "the stream codec assumes a little-endian host");

namespace {

// Longest text the reader accepts, in bytes: far beyond any comment, well within QString.
constexpr qint64 maxTextBytes = qint64(1) << 28;
// Texts are read in pieces of this size when the device cannot tell how much is left.
constexpr qint64 chunkSize = 64 * 1024;

} // namespace

StreamWriter::StreamWriter(QIODevice* device)
    : StreamWriter(device, ViewFlags::AllEvents)
{
}

StreamWriter::StreamWriter(QByteArray* buffer)
    : StreamWriter(buffer, ViewFlags::AllEvents)
{
}

StreamWriter::StreamWriter(QIODevice* device, int filterIndex)
    : m_device(device)
    , m_filterIndex(filterIndex)
{
}

StreamWriter::StreamWriter(QByteArray* buffer, int filterIndex)
    : m_buffer(buffer)
    , m_filterIndex(filterIndex)
{
}

void StreamWriter::put(const void* data, qsizetype size)
{
    if (m_buffer) {
        m_buffer->append(static_cast<const char*>(data), size);
        return;
    }
    if (m_device->write(static_cast<const char*>(data), size) != size)
        throw StreamError(StreamError::Kind::Device, "the stream could not be written");
}

void StreamWriter::writeBool(bool value)
{
    writeByte(value ? 1 : 0);
}

void StreamWriter::writeByte(quint8 value)
{
    put(&value, 1);
}

void StreamWriter::writeInt32(qint32 value)
{
    put(&value, 4);
}

void StreamWriter::writeTime(qint64 value)
{
    put(&value, 8);
}

void StreamWriter::writeDouble(double value)
{
    put(&value, 8);
}

void StreamWriter::writeText(const QString& text)
{
    // Tag FF FE FF marks UTF-16, then the length in code units in the 1/3/7-byte scheme.
    const quint8 tag[3] = { 0xFF, 0xFE, 0xFF };
    put(tag, 3);
    const qsizetype length = text.size();
    if (length < 0xFF) {
        writeByte(static_cast<quint8>(length));
    } else if (length < 0xFFFE) {
        writeByte(0xFF);
        const quint16 w = static_cast<quint16>(length);
        put(&w, 2);
    } else {
        writeByte(0xFF);
        const quint16 w = 0xFFFF;
        put(&w, 2);
        const quint32 d = static_cast<quint32>(length);
        put(&d, 4);
    }
    put(text.utf16(), length * 2);
}

StreamReader::StreamReader(const QByteArray& bytes)
    : m_bytes(&bytes)
{
}

StreamReader::StreamReader(QIODevice* device)
    : m_device(device)
{
}

qint64 StreamReader::remaining() const
{
    if (m_bytes)
        return m_bytes->size() - m_pos;
    if (m_device->isSequential())
        return -1;
    return m_device->size() - m_device->pos();
}

bool StreamReader::atEnd() const
{
    if (m_bytes)
        return m_pos >= m_bytes->size();
    return m_device->atEnd();
}

void StreamReader::checkCount(qint32 count, qint64 minBytesEach) const
{
    if (count < 1)
        return; // none to read
    const qint64 left = remaining();
    if (left >= 0 && static_cast<qint64>(count) * minBytesEach > left)
        throw StreamError(StreamError::Kind::EndOfFile, "the stream ends before the items it counts");
}

void StreamReader::take(void* out, qint64 size)
{
    if (m_bytes) {
        if (m_bytes->size() - m_pos < size)
            throw StreamError(StreamError::Kind::EndOfFile, "the stream ends early");
        std::memcpy(out, m_bytes->constData() + m_pos, static_cast<size_t>(size));
        m_pos += size;
        return;
    }
    char* p = static_cast<char*>(out);
    qint64 got = 0;
    while (got < size) {
        const qint64 n = m_device->read(p + got, size - got);
        if (n < 0)
            throw StreamError(StreamError::Kind::Device, "the stream could not be read");
        if (n == 0 && !(m_device->isSequential() && m_device->waitForReadyRead(m_waitMs)))
            throw StreamError(StreamError::Kind::EndOfFile, "the stream ends early");
        got += n;
    }
}

QByteArray StreamReader::takeBytes(qint64 size)
{
    if (size > maxTextBytes)
        throw StreamError(StreamError::Kind::Format, "the stream holds a text longer than allowed");
    const qint64 left = remaining();
    if (left >= 0 && size > left)
        throw StreamError(StreamError::Kind::EndOfFile, "the stream ends inside a text");
    QByteArray out;
    if (left >= 0) {
        out.resize(size);
        take(out.data(), size);
        return out;
    }
    // Unknown length left: grow with the bytes that actually arrive.
    while (out.size() < size) {
        const qint64 piece = std::min(chunkSize, size - out.size());
        const qsizetype at = out.size();
        out.resize(at + piece);
        take(out.data() + at, piece);
    }
    return out;
}

bool StreamReader::readBool()
{
    return readByte() != 0;
}

quint8 StreamReader::readByte()
{
    quint8 v;
    take(&v, 1);
    return v;
}

qint32 StreamReader::readInt32()
{
    qint32 v;
    take(&v, 4);
    return v;
}

qint64 StreamReader::readTime()
{
    qint64 v;
    take(&v, 8);
    return v;
}

double StreamReader::readDouble()
{
    double v;
    take(&v, 8);
    return v;
}

QString StreamReader::readText()
{
    bool wide = false;
    quint64 length = readByte();
    if (length == 0xFF) {
        quint16 w;
        take(&w, 2);
        if (w == 0xFFFE) {
            // UTF-16 tag; the length follows in the same scheme, without a second tag.
            wide = true;
            length = readByte();
            if (length == 0xFF) {
                take(&w, 2);
                if (w == 0xFFFE)
                    throw StreamError(StreamError::Kind::Format, "the stream holds a repeated text tag");
                length = w;
            }
        } else {
            length = w;
        }
        if (length == 0xFFFF) {
            quint32 d;
            take(&d, 4);
            length = d;
            if (d == 0xFFFFFFFF) {
                quint64 q;
                take(&q, 8);
                length = q;
            }
        }
    }
    if (length > static_cast<quint64>(maxTextBytes))
        throw StreamError(StreamError::Kind::Format, "the stream holds a text longer than allowed");
    if (wide) {
        const QByteArray raw = takeBytes(static_cast<qint64>(length) * 2);
        QString text(static_cast<qsizetype>(length), Qt::Uninitialized);
        std::memcpy(text.data(), raw.constData(), static_cast<size_t>(raw.size()));
        return text;
    }
    // An 8-bit text is in the system code page (UTF-8 here); bytes that are not valid there are
    // taken as Latin-1, so that no byte is lost.
    const QByteArray raw = takeBytes(static_cast<qint64>(length));
    QStringDecoder decoder(QStringDecoder::System, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(raw);
    if (decoder.hasError())
        return QString::fromLatin1(raw);
    return text;
}
