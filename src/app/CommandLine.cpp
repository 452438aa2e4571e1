#include "CommandLine.h"

#include "CloudCommand.h"
#include "CommandOutput.h"
#include "QuickCapture.h"
#include "SignInCommand.h"
#include "SnapshotCommand.h"

#include <QCommandLineParser>
#include <QCoreApplication>

using namespace CommandOutput;

namespace {

struct Command
{
    const char *name;
    const char *arguments;
    const char *summary;
    int (*run)(const QStringList &arguments);
};

// Each command owns the words after its name and prints its own usage for them.
constexpr Command commands[] = {
    {"add", "文字… | -", "添加想法，不打开窗口", runAddCommand},
    {"snapshots", "[restore ID]", "列出或恢复看板快照", runSnapshotCommand},
    {"cloud", "connect | status | disconnect", "连接、查看或断开云同步账户", runCloudCommand},
    {"signin", "configure | status | reset", "选择或查看登录用的身份提供方", runSignInCommand},
};

const Command *commandNamed(const QString &name)
{
    for (const Command &command : commands) {
        if (name == QLatin1String(command.name))
            return &command;
    }
    return nullptr;
}

// The toolkit reads these before the window opens (-style Fusion, -platform wayland, ...); they
// are accepted so that they still reach it, and left out of the help.
void addToolkitOptions(QCommandLineParser &parser)
{
    for (const char *name : {"platform", "platformpluginpath", "platformtheme", "plugin",
                             "qwindowgeometry", "qwindowicon", "qwindowtitle", "display",
                             "geometry", "style", "stylesheet", "session", "name", "title"}) {
        QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char *name : {"reverse", "widgetcount", "nograb", "dograb", "sync"}) {
        QCommandLineOption option(QString::fromLatin1(name));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
}

// Columns line up in a terminal, where Chinese characters take two cells.
QString padded(const QString &text, int cells)
{
    int used = 0;
    for (const QChar character : text) {
        const char16_t code = character.unicode();
        const bool wide = (code >= 0x2e80 && code <= 0xa4cf) ||
                          (code >= 0xac00 && code <= 0xd7a3) ||
                          (code >= 0xf900 && code <= 0xfaff) || (code >= 0xff00 && code <= 0xff60);
        used += wide ? 2 : 1;
    }
    return text + QString(qMax(1, cells - used), QLatin1Char(' '));
}

// The word as it was typed, dashes included, for an option the parser reports by its name.
QString typedOption(const QStringList &words, const QString &name)
{
    for (const QString &word : words) {
        QString bare = word.section(QLatin1Char('='), 0, 0);
        while (bare.startsWith(QLatin1Char('-')))
            bare.remove(0, 1);
        if (word.startsWith(QLatin1Char('-')) && bare == name)
            return word;
    }
    return name;
}

QString helpText(const QList<QCommandLineOption> &options)
{
    QString text = QStringLiteral("用法：lumaret [选项]\n"
                                  "      lumaret 命令 [参数…]\n\n"
                                  "不带命令时打开看板窗口；窗口已经打开时把它带到前面。\n\n"
                                  "命令：\n");
    for (const Command &command : commands) {
        const QString synopsis = QStringLiteral("%1 %2").arg(QLatin1String(command.name),
                                                             QString::fromUtf8(command.arguments));
        text += QStringLiteral("  lumaret %1 %2\n")
                    .arg(padded(synopsis, 36), QString::fromUtf8(command.summary));
    }
    text += QStringLiteral("\n选项：\n");
    for (const QCommandLineOption &option : options) {
        QStringList names;
        for (const QString &name : option.names())
            names.append((name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name);
        text += QStringLiteral("  %1 %2\n")
                    .arg(padded(names.join(QStringLiteral(", ")), 44), option.description());
    }
    text += QStringLiteral("\nlumaret 命令 --help 显示该命令的用法。\n");
    return text;
}

int refuse(const QString &problem, const QString &help)
{
    err() << problem << QStringLiteral("\n\n") << help;
    err().flush();
    return CommandOutput::usageError;
}

} // namespace

std::optional<int> CommandLine::run(int &argc, char **argv)
{
    QStringList words;
    for (int i = 0; i < argc; ++i)
        words.append(QString::fromLocal8Bit(argv[i]));

    if (const Command *command = commandNamed(words.value(1))) {
        // Asked for its usage, a command answers from the table, as the whole program does.
        if (words.size() == 3 &&
            (words[2] == QLatin1String("--help") || words[2] == QLatin1String("-h"))) {
            out() << QStringLiteral("用法：lumaret %1 %2\n  %3\n")
                         .arg(QLatin1String(command->name), QString::fromUtf8(command->arguments),
                              QString::fromUtf8(command->summary));
            out().flush();
            return success;
        }
        // No window and no display: the commands run over ssh and in scripts as well.
        QCoreApplication app(argc, argv);
        QCoreApplication::setOrganizationName(QStringLiteral("Lumaret"));
        QCoreApplication::setApplicationName(QStringLiteral("Lumaret"));
        return command->run(QCoreApplication::arguments().mid(2));
    }

    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("显示这段说明"));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("显示版本"));
    QCommandLineParser parser;
    // The toolkit spells its options with one dash, as in -style Fusion.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOption(help);
    parser.addOption(version);
    addToolkitOptions(parser);
    const QString helpMessage = helpText({help, version});

    if (!parser.parse(words)) {
        const QStringList unknown = parser.unknownOptionNames();
        return refuse(
            unknown.isEmpty()
                ? QStringLiteral("选项后面缺少它的值。")
                : QStringLiteral("未知的选项「%1」。").arg(typedOption(words, unknown.first())),
            helpMessage);
    }
    if (parser.isSet(help)) {
        out() << helpMessage;
        out().flush();
        return success;
    }
    if (parser.isSet(version)) {
        out() << QStringLiteral("Lumaret %1\n").arg(QStringLiteral(LUMARET_VERSION));
        out().flush();
        return success;
    }
    if (!parser.positionalArguments().isEmpty()) {
        return refuse(
            QStringLiteral("未知的命令「%1」。").arg(parser.positionalArguments().first()),
            helpMessage);
    }
    return std::nullopt;
}
