#pragma once

#include <QString>
#include <QStringList>

// Where the program keeps its files: the INI file, the event database, the logs and Archives/.
//
// The folder is, in this order: the --home DIR option, the KESTRA_HOME environment variable,
// the executable's folder when it holds KESTRA.ini (a portable install), else
// $XDG_DATA_HOME/kestra (~/.local/share/kestra when the variable is unset or relative).
class ProgramFolder {
public:
    static constexpr const char* IniFileName = "KESTRA.ini";
    static constexpr const char* LogFileName = "ProgLogFile.log";

    // Everything the choice depends on, so that it can be made without touching the process.
    struct Sources {
        QString homeOption; // value of --home, empty when not given
        QString homeVariable; // KESTRA_HOME
        QString executableFolder;
        QString xdgDataHome; // XDG_DATA_HOME
        QString userHome; // HOME
    };

    // The value of "--home DIR" or "--home=DIR" in a command line (program name first), empty
    // when absent.
    static QString homeOption(const QStringList& arguments);
    // Gathers the sources from the command line, the environment and the executable's path.
    static Sources sourcesFromProcess(const QStringList& arguments);
    // The chosen folder as an absolute, clean path without a trailing "/".
    static QString resolve(const Sources& sources);

    // Fixes the process-wide folder from the command line and creates it. Calling it is
    // optional: the first use of path() does the same from QCoreApplication's arguments.
    // False, with a reason in *error, when the folder cannot be created.
    static bool initialise(const QStringList& arguments, QString* error = nullptr);
    // Fixes the process-wide folder to a given one (tests, tools); created like the above.
    static bool setPath(const QString& folder, QString* error = nullptr);

    // The program folder with a trailing "/", so that a relative path can be put behind it.
    static QString path();
    // A file below the program folder; "\" in the relative path is read as "/".
    static QString filePath(const QString& relative);
    static QString iniPath();
    static QString logPath();
};
