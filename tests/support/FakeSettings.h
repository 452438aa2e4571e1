#pragma once

#include <QSettings>
#include <QTemporaryDir>

#include <memory>

/// Settings in a file of their own under a temporary folder, never the user's.
struct FakeSettings
{
    QTemporaryDir folder;

    QString path() const { return folder.filePath(QStringLiteral("settings.ini")); }
    std::unique_ptr<QSettings> open() const
    {
        return std::make_unique<QSettings>(path(), QSettings::IniFormat);
    }
};
