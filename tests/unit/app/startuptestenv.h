#pragma once
// Start-up writes settings and a log under the user's folders; the start-up tests point those
// folders into a temporary directory of their own first.

#include <QFile>
#include <QTemporaryDir>

inline bool redirectUserFolders(const QTemporaryDir &home)
{
    if (!home.isValid())
        return false;
    for (const char *variable : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
        qputenv(variable, QFile::encodeName(home.filePath(QString::fromLatin1(variable))));
    return true;
}
