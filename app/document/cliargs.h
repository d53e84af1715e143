#pragma once

#include <QString>
#include <QStringList>

// kestra-cli's command line: the global options, the command and its words. Options may come
// before or after the command, as "--option value" or "--option=value"; "--" ends them.
struct CliArgs {
    QString home; // the program folder; empty: the usual search
    QString port; // the serial port instead of the configured or detected one
    QString remote; // HOST:PORT of a station to read through
    int listen = -1; // serve's port; -1: the configured one
    QString listenAddress; // serve's one local address; empty: every address
    int http = -1; // serve's web server port; -1: none
    QString httpAddress; // the web server's local address; empty: loopback
    int forSeconds = -1; // how long watch and serve run; -1: until interrupted
    QString format; // export's --format: csv, json or ksexp (the export file); empty: ksexp
    QString from; // export's span of dates; empty: from the first or to the last event
    QString to;
    bool alarms = false;
    bool json = false;
    bool help = false;
    bool version = false;
    QString command;
    QStringList positional; // the command's own words
    QString error; // what is wrong with the line, one line for a person; empty if nothing

    // The longest --for: the stop timer counts milliseconds in an int.
    static constexpr int MaxSeconds = 2000000;

    // `arguments` as the process got them, the program's name first.
    static CliArgs parse(const QStringList& arguments);

    static QString usageText();
    static QString versionText();

    // For the shell completion, which is written beside the program and checked against these.
    static QStringList optionNames();
    static QStringList commandNames();
};
