#include "document/cliargs.h"

#include "remote/remoteprotocol.h"

#include <QCommandLineParser>
#include <QRegularExpression>

#include <algorithm>
#include <array>
#include <optional>

namespace {

struct Command {
    const char* name;
    qsizetype minArgs;
    qsizetype maxArgs;
};

constexpr std::array Commands {
    Command { "download", 0, 0 },
    Command { "watch", 0, 0 },
    Command { "serve", 0, 0 },
    Command { "instruments", 0, 0 },
    Command { "days", 1, 1 },
    Command { "events", 2, 2 },
    Command { "export", 1, 3 },
    Command { "import", 1, 1 },
    Command { "save-text", 3, 3 },
    Command { "archive", 0, 1 },
    Command { "rename", 2, 2 },
    Command { "migrate", 2, 2 },
    Command { "password", 0, 0 },
};

struct ValueOption {
    const char* name;
    const char* valueName;
};

constexpr std::array ValueOptions {
    ValueOption { "home", "DIR" },
    ValueOption { "port", "PORT" },
    ValueOption { "remote", "HOST:PORT" },
    ValueOption { "listen", "[ADDR:]PORT" },
    ValueOption { "http", "[ADDR:]PORT" },
    ValueOption { "for", "SECONDS" },
    ValueOption { "format", "FORMAT" },
    ValueOption { "from", "DATE" },
    ValueOption { "to", "DATE" },
};

constexpr std::array FlagOptions { "alarms", "json", "help", "version" };

// An option as the person typed it: its dashes and name, without a value.
QString typedOption(const QStringList& arguments, const QString& name)
{
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        if (arg == u"--")
            break;
        qsizetype dashes = 0;
        while (dashes < arg.size() && arg[dashes] == u'-')
            ++dashes;
        if (dashes > 0 && arg.mid(dashes).section(u'=', 0, 0) == name)
            return arg.left(dashes) + name;
    }
    return (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
}

// The parser's report of a bad line in the words kestractl uses for the same faults.
QString parserError(const QCommandLineParser& parser, const QStringList& arguments)
{
    if (const QStringList unknown = parser.unknownOptionNames(); !unknown.isEmpty())
        return QStringLiteral("unknown option ") + typedOption(arguments, unknown.first());
    const QString text = parser.errorText();
    static const QRegularExpression quoted(QStringLiteral("'([^']*)'"));
    const QRegularExpressionMatch match = quoted.match(text);
    if (match.hasMatch()) {
        QString name = match.captured(1);
        while (name.startsWith(u'-'))
            name.remove(0, 1);
        const QString option = typedOption(arguments, name);
        if (text.startsWith(u"Missing value"))
            return option + QStringLiteral(" needs a value");
        if (text.startsWith(u"Unexpected value"))
            return option + QStringLiteral(" takes no value");
    }
    QString plain = text.trimmed();
    if (plain.endsWith(u'.'))
        plain.chop(1);
    return plain;
}

// A number from `text` within [min, max], or nothing.
std::optional<int> boundedNumber(const QString& text, int min, int max)
{
    bool ok = false;
    const int n = text.toInt(&ok);
    if (!ok || n < min || n > max)
        return std::nullopt;
    return n;
}

} // namespace

CliArgs CliArgs::parse(const QStringList& arguments)
{
    CliArgs a;
    QCommandLineParser parser;
    // "-home" is taken as "--home" rather than as the letters h, o, m and e.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    for (const ValueOption& o : ValueOptions)
        parser.addOption(QCommandLineOption(QString::fromLatin1(o.name), QString(), QString::fromLatin1(o.valueName)));
    for (const char* name : FlagOptions) {
        QStringList names { QString::fromLatin1(name) };
        if (names.first() == u"help")
            names.prepend(QStringLiteral("h"));
        parser.addOption(QCommandLineOption(names));
    }
    if (!parser.parse(arguments)) {
        a.error = parserError(parser, arguments);
        return a;
    }

    // A value that was given must be usable: "--port=" is a mistake, not "no port".
    const auto text = [&](const char* name, const char* needs, QString* into) {
        const QString option = QString::fromLatin1(name);
        if (!parser.isSet(option))
            return true;
        *into = parser.value(option);
        if (!into->isEmpty())
            return true;
        a.error = QStringLiteral("--%1 needs %2").arg(option, QString::fromLatin1(needs));
        return false;
    };
    if (!text("home", "a directory", &a.home) || !text("port", "a port name", &a.port)
        || !text("remote", "HOST:PORT", &a.remote))
        return a;
    for (const char* name : { "listen", "http" }) {
        const QString option = QString::fromLatin1(name);
        if (!parser.isSet(option))
            continue;
        const std::optional<std::pair<QString, quint16>> where = Remote::parseListen(parser.value(option));
        if (!where) {
            a.error = QStringLiteral("--%1 needs [ADDRESS:]PORT (a port number 0-65535, an IP address, [...] "
                                     "around an IPv6 address)")
                          .arg(option);
            return a;
        }
        (option == u"http" ? a.httpAddress : a.listenAddress) = where->first;
        (option == u"http" ? a.http : a.listen) = where->second;
    }
    if (parser.isSet(QStringLiteral("for"))) {
        const std::optional<int> seconds = boundedNumber(parser.value(QStringLiteral("for")), 0, MaxSeconds);
        if (!seconds) {
            a.error = QStringLiteral("--for needs a number of seconds (0-%1)").arg(MaxSeconds);
            return a;
        }
        a.forSeconds = *seconds;
    }
    if (!text("format", "csv, json or ksexp", &a.format) || !text("from", "a date", &a.from)
        || !text("to", "a date", &a.to))
        return a;
    a.format = a.format.toLower();
    if (a.format == u"jsonl")
        a.format = QStringLiteral("json");
    if (!a.format.isEmpty() && a.format != u"csv" && a.format != u"json" && a.format != u"ksexp") {
        a.error = QStringLiteral("--format needs csv, json or ksexp");
        return a;
    }
    if (a.format == u"ksexp")
        a.format.clear();
    a.alarms = parser.isSet(QStringLiteral("alarms"));
    a.json = parser.isSet(QStringLiteral("json"));
    a.help = parser.isSet(QStringLiteral("help"));
    a.version = parser.isSet(QStringLiteral("version"));

    a.positional = parser.positionalArguments();
    if (!a.positional.isEmpty())
        a.command = a.positional.takeFirst();
    if (a.command == u"help")
        a.help = true;
    if (a.help || a.version)
        return a;
    if (a.command.isEmpty()) {
        a.error = QStringLiteral("no command given");
        return a;
    }
    const auto command = std::find_if(
        Commands.begin(), Commands.end(), [&](const Command& c) { return a.command == QLatin1String(c.name); });
    if (command == Commands.end())
        a.error = QStringLiteral("unknown command '%1'").arg(a.command);
    else if (a.positional.size() < command->minArgs)
        a.error = QStringLiteral("'%1' needs more arguments").arg(a.command);
    else if (a.positional.size() > command->maxArgs && command->maxArgs == 0)
        a.error = QStringLiteral("'%1' takes no arguments").arg(a.command);
    else if (a.positional.size() > command->maxArgs)
        a.error = QStringLiteral("'%1' takes at most %2 argument%3")
                      .arg(a.command, QString::number(command->maxArgs),
                          command->maxArgs == 1 ? QString() : QStringLiteral("s"));
    else if (a.http >= 0 && a.command != u"serve")
        a.error = QStringLiteral("--http belongs to serve");
    else if ((!a.format.isEmpty() || !a.from.isEmpty() || !a.to.isEmpty()) && a.command != u"export")
        a.error = QStringLiteral("--format, --from and --to belong to export");
    else if (a.command == u"export" && a.format.isEmpty() && (!a.from.isEmpty() || !a.to.isEmpty()))
        a.error = QStringLiteral("--from and --to need --format csv or json");
    else if (a.command == u"export" && a.format.isEmpty() && a.positional.size() != 3)
        a.error = QStringLiteral("'export' needs ID DATE FILE, or --format csv|json");
    else if (a.command == u"export" && a.positional.size() == 3 && (!a.from.isEmpty() || !a.to.isEmpty()))
        a.error = QStringLiteral("'export' takes a DATE or --from/--to, not both");
    return a;
}

QString CliArgs::usageText()
{
    return QStringLiteral(
        R"(usage: kestra-cli [--home DIR] [--port PORT] [--remote HOST:PORT] COMMAND [ARGS]
       kestra-cli --help | --version

commands:
  download                          read the instrument's history into the database
  watch [--for SECONDS]             watch the instrument and read its history on schedule
                                    and on alarm, until interrupted
  instruments                       list the instruments in the database
  days ID                           list the days of an instrument (* marks alarms)
  events ID DATE [--alarms] [--json]
                                    the events of one day, newest first
  export ID DATE FILE               write one day as an export file
  export --format csv|json [--from DATE] [--to DATE] [--alarms] [ID [DATE]] FILE
                                    write events as CSV or JSON Lines: one day, the days
                                    from one date to another (inclusive), or all; one
                                    instrument or all of them; FILE - is the standard output
  import FILE                       store the events of an export file
  save-text ID DATE FILE            write one day as tab-separated text
  archive [FILE]                    copy the database and remove events before yesterday
  rename ID NAME                    give an instrument a display name
  migrate FROM TO [--json]          copy every event and name of the database FROM into TO
                                    and check every instrument-day on both sides; each is
                                    a file or postgresql://USER@HOST:PORT/DATABASE. Run it
                                    again after an interruption: it goes on where it stopped
  serve [--listen [ADDR:]PORT] [--http [ADDR:]PORT] [--for SECONDS]
                                    watch the instrument as "watch" does and serve it and
                                    the database to other computers (PORT: the configured
                                    server port; 0 picks a free one; ADDR: the one local
                                    address to listen on, else every address). Other
                                    computers may change the instrument's settings and
                                    comments only when the station has a password.
                                    --http also serves a read-only web page, a JSON API
                                    (/api/v1/...), CSV and Prometheus metrics (/metrics)
                                    on PORT of ADDR (loopback unless given)
  password                          set the station's password: asked twice on a terminal,
                                    else one line read from the standard input
  help                              this text

options:
  -h, --help                        this text
  --version                         the program's version

DATE is YYYY-MM-DD or DD-MM-YYYY; export's --from and --to default to the first and the
last event. --home chooses the program folder, --port the serial port (instead of the
configured or detected one). --remote runs instruments, days, events,
export and save-text through the server HOST:PORT instead of this computer's database.
Options go before or after the command, as --option VALUE or --option=VALUE; -- ends them.

Exit status: 0 success, 1 failure (for migrate also: TO does not match FROM), 2 usage error, 3 no event database, 4 no instrument answers.
)");
}

QString CliArgs::versionText()
{
    return QStringLiteral("kestra-cli " KESTRA_VERSION);
}

QStringList CliArgs::optionNames()
{
    QStringList names;
    for (const ValueOption& o : ValueOptions)
        names << QStringLiteral("--") + QLatin1String(o.name);
    for (const char* name : FlagOptions)
        names << QStringLiteral("--") + QLatin1String(name);
    names << QStringLiteral("-h");
    return names;
}

QStringList CliArgs::commandNames()
{
    QStringList names;
    for (const Command& c : Commands)
        names << QLatin1String(c.name);
    names << QStringLiteral("help");
    return names;
}
