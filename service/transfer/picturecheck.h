#pragma once
// Checks an employee picture before it goes into the database: a JPEG or PNG file that decodes,
// at most 2 MB and at most 2048 pixels on a side. The panel shows pictures small; a larger one
// would only cost every panel the transfer.

#include <QByteArray>
#include <QString>

namespace vorna::transfer {

inline constexpr qint64 MaxPictureBytes = 2 * 1024 * 1024;
inline constexpr int MaxPictureSide = 2048;

// An empty text when `bytes` are an acceptable picture, otherwise why not, as a sentence that
// names the picture by `name`.
QString checkPicture(const QByteArray &bytes, const QString &name);

// Reads the picture at `relativePath` under `folder` into *bytes and checks it. Paths that are
// absolute or lead out of `folder` (through "..", or a link) are refused. An empty text when
// the picture is acceptable.
QString readPicture(const QString &folder, const QString &relativePath, QByteArray *bytes);

// Whether `path`, after links are resolved, lies inside `folder`: an import reads only what
// its folder holds, not what a link there leads to.
bool staysInside(const QString &folder, const QString &path);

// Reads and checks the picture file an operator names on the command line; the sentence names
// it by its path.
QString readPictureFile(const QString &path, QByteArray *bytes);

} // namespace vorna::transfer
