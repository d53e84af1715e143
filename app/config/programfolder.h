#pragma once

#include <QString>
#include <QStringList>

// Where the program keeps its files: the INI file, the event database, the logs and Archives/.
// Each program's context holds one (see AppContext); two contexts in one process may use two.
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

    // The folder a command line chooses (not created yet).
    static ProgramFolder fromArguments(const QStringList& arguments);

    ProgramFolder() = default;
    // The folder at that path, made absolute and clean; nothing is created.
    explicit ProgramFolder(const QString& folder);

    // Creates the folder. False, with a reason in *error, when it cannot be created.
    bool make(QString* error = nullptr) const;
    bool isNull() const { return m_path.isEmpty(); }

    // The program folder with a trailing "/", so that a relative path can be put behind it.
    QString path() const;
    // A file below the program folder; "\" in the relative path is read as "/".
    QString filePath(const QString& relative) const;
    QString iniPath() const;
    QString logPath() const;

private:
    QString m_path; // clean absolute path, no trailing "/"
};
