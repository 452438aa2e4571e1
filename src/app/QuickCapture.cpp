#include "QuickCapture.h"

#include "CommandOutput.h"
#include "SingleInstance.h"
#include "stores/BoardPersistence.h"
#include "stores/BoardStore.h"
#include "support/BoardFileMessages.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QTextStream>
#include <QThread>

#include <optional>

using namespace CommandOutput;

namespace {

// How long a Lumaret that holds the lock may take to start listening, and then to add the
// thoughts, which it saves in one go.
constexpr std::chrono::milliseconds handOverTimeLimit(5000);
constexpr std::chrono::milliseconds answerTimeLimit(30000);

void usage()
{
    err() << QStringLiteral(
        "用法 / usage:\n"
        "  lumaret add 文字…     添加一条想法 / add one thought\n"
        "  lumaret add -         从标准输入读取，每行一条想法 / one thought per line of standard "
        "input\n"
        "  lumaret add -- -文字  添加以 - 开头的想法 / a thought that starts with -\n");
}

QStringList linesOfStandardInput()
{
    QFile input;
    if (!input.open(stdin, QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(input.readAll()).split(QLatin1Char('\n'));
}

QStringList thoughtsFrom(const QStringList &texts)
{
    QStringList thoughts;
    for (const QString &text : texts) {
        // A title is one line, as the composer makes it.
        QString title = text;
        for (QChar &character : title) {
            if (character == QLatin1Char('\n') || character == QLatin1Char('\r') ||
                character == QLatin1Char('\t'))
                character = QLatin1Char(' ');
        }
        title = title.trimmed();
        if (!title.isEmpty())
            thoughts.append(title);
    }
    return thoughts;
}

/// Adds \a thoughts to the board file of a Lumaret that is not running, in one save that must
/// succeed. A board file that exists but cannot be read is left as it is and nothing is added:
/// the window, not a terminal command, tells the person about it. With no board file yet the
/// board holds just these thoughts: the samples greet a window's first launch.
int addToClosedBoard(const QStringList &thoughts)
{
    const QString path = BoardPersistence::liveStoragePath();
    if (path.isEmpty()) {
        err() << QStringLiteral("没有可写的数据文件夹，想法没有添加。\n"
                                "No writable data folder: nothing was added.\n");
        return failure;
    }
    const BoardPersistence file = BoardPersistence::live();
    const LoadedBoard loaded = file.load();
    if (loaded.problem) {
        err() << QStringLiteral("无法读取看板文件 %1（%2），想法没有添加，原文件保持不变。\n"
                                "Could not read the board file %1: nothing was added and the file "
                                "was left as it is.\n")
                     .arg(path, BoardFileMessages::reason(*loaded.problem));
        return failure;
    }
    BoardStore store(BoardPersistence{[board = loaded.board.value_or(Board())] {
                                          return LoadedBoard{board, std::nullopt};
                                      },
                                      file.save});
    store.addQuickThoughts(thoughts);

    if (const std::optional<BoardFileProblem> &problem = store.saveProblem()) {
        err() << QStringLiteral("没能写入看板文件 %1（%2），想法没有添加。\n"
                                "Could not write the board file %1: nothing was added.\n")
                     .arg(path, BoardFileMessages::reason(*problem));
        return failure;
    }
    out() << QStringLiteral("已添加 %1 条想法到 %2。\n").arg(thoughts.size()).arg(path);
    return success;
}

int deliver(const QStringList &thoughts)
{
    // Without a private folder for the lock, neither writing the board nor reaching a window is
    // safe: say why at once rather than wait for a window that cannot answer.
    QString problem;
    if (SingleInstance::runtimeFolder(&problem).isEmpty()) {
        err() << QStringLiteral("%1想法没有添加。\nNothing was added: Lumaret's private runtime "
                                "folder cannot be used.\n")
                     .arg(problem);
        return failure;
    }
    SingleInstance instance(SingleInstance::currentKey());
    const QDeadlineTimer deadline(handOverTimeLimit);
    do {
        if (instance.tryLockWithoutServing())
            return addToClosedBoard(thoughts);
        if (const std::optional<SingleInstance::CaptureAnswer> answer =
                instance.submitToPrimary(thoughts, answerTimeLimit)) {
            if (!answer->unsavedReason.isEmpty()) {
                // The thoughts are on the board in the window: sending them again would add them
                // twice.
                err() << QStringLiteral(
                             "正在运行的 Lumaret 已收到 %1 条想法，但无法保存看板（%2）；"
                             "想法留在窗口中，请不要重复添加。\n"
                             "The running Lumaret took %1 thoughts but could not save "
                             "its board; they stay in its window, do not add them "
                             "again.\n")
                             .arg(answer->added)
                             .arg(answer->unsavedReason);
                return failure;
            }
            if (answer->added == thoughts.size()) {
                out() << QStringLiteral("已添加 %1 条想法到正在运行的 Lumaret。\n")
                             .arg(answer->added);
                return success;
            }
            err() << QStringLiteral("正在运行的 Lumaret 没有确认添加，请在窗口中查看。\n"
                                    "The running Lumaret did not confirm the addition; check its "
                                    "window before trying again.\n");
            return failure;
        }
        // The lock holder is still starting, or is another capture about to finish.
        QThread::msleep(100);
    } while (!deadline.hasExpired());
    err() << QStringLiteral("Lumaret 正在运行，但没有回应，想法没有添加。\n"
                            "Lumaret is running but does not answer: nothing was added.\n");
    return failure;
}

} // namespace

int runAddCommand(const QStringList &arguments)
{
    QStringList words = arguments;
    const bool fromStandardInput = words == QStringList{QStringLiteral("-")};
    const bool explicitText = !words.isEmpty() && words.first() == QStringLiteral("--");
    if (explicitText)
        words.removeFirst();
    const QStringList thoughts =
        fromStandardInput ? thoughtsFrom(linesOfStandardInput()) : thoughtsFrom({words.join(u' ')});

    int code = usageError;
    if (words.isEmpty() && !explicitText) {
        usage();
    } else if (!fromStandardInput && !explicitText && words.first().startsWith(QLatin1Char('-'))) {
        err() << QStringLiteral("未知选项 / unknown option: %1\n").arg(words.first());
        usage();
    } else if (thoughts.isEmpty()) {
        err() << (fromStandardInput
                      ? QStringLiteral("标准输入里没有想法（空行会被跳过），没有添加任何内容。\n"
                                       "No thought on standard input (blank lines are skipped): "
                                       "nothing was added.\n")
                      : QStringLiteral("想法不能为空，没有添加任何内容。\n"
                                       "The thought is empty: nothing was added.\n"));
    } else {
        code = deliver(thoughts);
    }
    out().flush();
    err().flush();
    return code;
}

void acceptQuickCaptures(SingleInstance &instance, BoardStore &store)
{
    instance.setCaptureHandler([&store](const QStringList &texts) {
        // One change, one save and one undo step, however many lines came.
        SingleInstance::CaptureAnswer answer{store.addQuickThoughts(thoughtsFrom(texts)), {}};
        if (store.saveProblem())
            answer.unsavedReason = BoardFileMessages::reason(*store.saveProblem());
        return answer;
    });
}
