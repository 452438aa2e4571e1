#include "BoardFileMessages.h"

#include <QDir>

#include <cerrno>
#include <cstring>

namespace BoardFileMessages {

namespace {

QString systemReason(int error)
{
    switch (error) {
    case EACCES:
    case EPERM:
        return QStringLiteral("没有权限");
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("磁盘已满");
    case EROFS:
        return QStringLiteral("文件系统只读");
    case EFBIG:
        return QStringLiteral("文件超出系统允许的大小");
    case EIO:
        return QStringLiteral("读写出错");
    case ENOTDIR:
    case EISDIR:
        return QStringLiteral("路径中有不是文件夹的部分");
    default:
        return QStringLiteral("系统错误：%1").arg(QString::fromLocal8Bit(std::strerror(error)));
    }
}

} // namespace

QString reason(const BoardFileProblem &problem)
{
    using Kind = BoardFileProblem::Kind;
    switch (problem.kind) {
    case Kind::noDataFolder:
        return QStringLiteral("没有可用的数据文件夹");
    case Kind::notAFile:
        return QStringLiteral("它不是普通文件");
    case Kind::tooLarge:
        return QStringLiteral("文件大于 %1 MiB").arg(BoardPersistence::maxFileSize >> 20);
    case Kind::undecodable:
        return QStringLiteral("内容无法识别（已损坏，或来自更新的版本）");
    case Kind::unreadable:
    case Kind::unwritable:
        break;
    }
    return systemReason(problem.systemError);
}

QString loadNotice(const BoardFileProblem &problem, const QString &movedAside)
{
    const QString path = QDir::toNativeSeparators(problem.path);
    if (!movedAside.isEmpty()) {
        return QStringLiteral("无法读取看板文件 %1：%2。原文件已原样改名保存为 %3，"
                              "当前看板从空白开始。")
            .arg(path, reason(problem), QDir::toNativeSeparators(movedAside));
    }
    return QStringLiteral("无法读取看板文件 %1：%2。原文件保持不变；"
                          "第一次修改时它会被原样改名保存在同一文件夹中。")
        .arg(path, reason(problem));
}

QString saveNotice(const BoardFileProblem &problem)
{
    return QStringLiteral("无法保存看板：%1（%2）。修改只在本窗口中，会自动重试；"
                          "退出前请处理，或另存一份副本。")
        .arg(reason(problem), QDir::toNativeSeparators(problem.path));
}

} // namespace BoardFileMessages
