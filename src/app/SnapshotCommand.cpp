#include "SnapshotCommand.h"

#include "CommandOutput.h"
#include "SingleInstance.h"
#include "stores/BoardSnapshots.h"
#include "stores/BoardStore.h"
#include "support/BoardFileMessages.h"

#include <QTextStream>

#include <algorithm>

using namespace CommandOutput;

namespace {

qsizetype liveCount(const Board &board)
{
    return std::count_if(board.cbegin(), board.cend(),
                         [](const Thought &thought) { return !thought.isDeleted; });
}

int list(const BoardSnapshots &snapshots, QTextStream &out)
{
    const QList<BoardSnapshots::Snapshot> all = snapshots.list();
    if (all.isEmpty()) {
        out << QStringLiteral("还没有快照：每次启动和每天第一次修改看板之前会保存一份。\n");
        return success;
    }
    out << QStringLiteral("ID                  时间                想法\n");
    for (const BoardSnapshots::Snapshot &snapshot : all) {
        const std::optional<Board> board = snapshots.board(snapshot.id);
        out << snapshot.id.leftJustified(20)
            << snapshot.takenAt.toLocalTime()
                   .toString(QStringLiteral("yyyy-MM-dd HH:mm"))
                   .leftJustified(20)
            << (board ? QString::number(liveCount(*board)) : QStringLiteral("无法读取")) << '\n';
    }
    return success;
}

int restore(const BoardSnapshots &snapshots, const QString &id, QTextStream &out, QTextStream &err)
{
    // Holding the instance lock keeps a window from opening on the board while it is replaced.
    SingleInstance instance(SingleInstance::currentKey());
    switch (instance.claim(std::chrono::milliseconds(1000))) {
    case SingleInstance::Role::primary:
        break;
    case SingleInstance::Role::secondary:
        err << QStringLiteral("Lumaret 正在运行：请先关闭窗口，再恢复快照。\n");
        return failure;
    case SingleInstance::Role::unavailable:
        // Neither holding the lock nor reaching its holder, a restore could write beside a window.
        err << instance.problem() << '\n';
        return failure;
    }
    const std::optional<Board> snapshot = snapshots.board(id);
    if (!snapshot) {
        err << QStringLiteral("没有可以读取的快照 %1；lumaret snapshots 列出全部快照。\n").arg(id);
        return failure;
    }
    BoardPersistence persistence =
        BoardSnapshots::guarding(BoardPersistence::live(), &BoardPersistence::liveStoragePath);
    // Without a saved board there is nothing to keep beside the snapshot, not even samples.
    persistence.load = [load = persistence.load] {
        LoadedBoard loaded = load();
        if (!loaded.board && !loaded.problem)
            loaded.board = Board();
        return loaded;
    };
    BoardStore store(persistence);
    store.restore(BoardSnapshots::restored(store.thoughts(), *snapshot));
    if (store.hasUnsavedChanges()) {
        err << QStringLiteral("没能写入看板文件 %1（%2），快照没有恢复。\n")
                   .arg(store.saveProblem()->path, BoardFileMessages::reason(*store.saveProblem()));
        return failure;
    }
    out << QStringLiteral("已恢复快照 %1（%2 条想法）；恢复前的看板保留在快照中。\n")
               .arg(id)
               .arg(liveCount(*snapshot));
    return success;
}

} // namespace

int runSnapshotCommand(const QStringList &arguments)
{
    QTextStream out(stdout);
    QTextStream err(stderr);
    if (BoardPersistence::liveStoragePath().isEmpty()) {
        err << QStringLiteral("找不到存放看板的数据文件夹。\n");
        return failure;
    }
    const BoardSnapshots snapshots(BoardPersistence::liveStoragePath());
    if (arguments.isEmpty())
        return list(snapshots, out);
    if (arguments.size() == 2 && arguments[0] == QStringLiteral("restore"))
        return restore(snapshots, arguments[1], out, err);
    err << QStringLiteral("用法：\n"
                          "  lumaret snapshots               列出保存的看板快照（时间、想法数）\n"
                          "  lumaret snapshots restore ID    恢复一个快照（需先关闭窗口）\n");
    return usageError;
}
