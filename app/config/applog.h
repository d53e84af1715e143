#pragma once

#include <QString>

class QDateTime;

// The application log, "ProgLogFile.log" in the program folder: one line per message, each
// starting with the local date and time ("dd.mm.yyyy<TAB>hh:mm:ss<TAB>"). It is emptied at
// every start and whenever it has grown beyond MaxSize bytes. Any thread may write; lines are
// written whole, one at a time, and the file is closed after every line.
class AppLog {
public:
    static constexpr qint64 MaxSize = 1024000;

    // Remembers the path and turns logging on. An existing file is emptied; when that fails
    // logging stays off and the result is false. A missing file is created by the first line.
    static bool start(const QString& path);
    // Turns logging off (the file is left as it is).
    static void stop();
    static bool isOn();
    static QString path();

    // Appends one line. Does nothing while logging is off; a line that cannot be written is
    // dropped. A message ending in "\n" leaves an empty line behind it.
    static void write(const QString& message);
    static void write(const char* message) { write(QString::fromUtf8(message)); }

    // The line as it goes to the file for a given local time (without the final "\n").
    static QString formatLine(const QString& message, const QDateTime& localTime);
};
