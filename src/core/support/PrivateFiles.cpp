#include "support/PrivateFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

namespace {

constexpr QFile::Permissions ownerFile = QFile::ReadOwner | QFile::WriteOwner;
constexpr QFile::Permissions ownerFolder = ownerFile | QFile::ExeOwner;

} // namespace

bool PrivateFiles::makeFolder(const QString &folder)
{
    if (!QDir().mkpath(folder))
        return false;
    restrict(folder);
    return true;
}

void PrivateFiles::restrict(const QString &path)
{
    const QFileInfo info(path);
    // A link is left alone: its target may be anybody's file.
    if (info.isSymLink() || !info.exists())
        return;
    QFile::setPermissions(path, info.isDir() ? ownerFolder : ownerFile);
}

void PrivateFiles::sync(QSettings &settings)
{
    const QString path = settings.fileName();
    // QSettings writes through a file it swaps in place of the old one and gives that file the
    // old one's mode, so a file that is private before the first write stays private.
    if (settings.format() == QSettings::NativeFormat || settings.format() == QSettings::IniFormat) {
        makeFolder(QFileInfo(path).absolutePath());
        if (QFile created(path); !created.exists())
            created.open(QIODevice::WriteOnly, ownerFile);
        restrict(path);
    }
    settings.sync();
}
