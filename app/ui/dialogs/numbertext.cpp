#include "ui/dialogs/numbertext.h"

#include <limits>

namespace NumberText {

namespace {

qsizetype skipBlanks(const QString& text)
{
    qsizetype i = 0;
    while (i < text.size() && text[i].isSpace())
        ++i;
    return i;
}

bool isDigit(const QString& text, qsizetype i)
{
    return i < text.size() && text[i] >= u'0' && text[i] <= u'9';
}

} // namespace

int leadingInt(const QString& text)
{
    qsizetype i = skipBlanks(text);
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    qint64 value = 0;
    constexpr qint64 limit = qint64(std::numeric_limits<int>::max()) + 1;
    for (; isDigit(text, i); ++i) {
        value = value * 10 + (text[i].unicode() - u'0');
        if (value > limit)
            value = limit;
    }
    if (negative)
        return int(qMax(-value, qint64(std::numeric_limits<int>::min())));
    return int(qMin(value, qint64(std::numeric_limits<int>::max())));
}

double leadingReal(const QString& text)
{
    const qsizetype start = skipBlanks(text);
    qsizetype i = start;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-'))
        ++i;
    qsizetype digits = 0;
    for (; isDigit(text, i); ++i)
        ++digits;
    if (i < text.size() && text[i] == u'.') {
        ++i;
        for (; isDigit(text, i); ++i)
            ++digits;
    }
    if (digits == 0)
        return 0;
    qsizetype end = i;
    // An exponent counts only when digits follow it.
    if (i < text.size() && (text[i] == u'e' || text[i] == u'E')) {
        qsizetype j = i + 1;
        if (j < text.size() && (text[j] == u'+' || text[j] == u'-'))
            ++j;
        if (isDigit(text, j)) {
            while (isDigit(text, j))
                ++j;
            end = j;
        }
    }
    bool ok = false;
    const double value = text.mid(start, end - start).toDouble(&ok);
    return ok ? value : 0;
}

} // namespace NumberText
