#pragma once
// The checks an employee's picture passes before it is stored: the panel shows it on every
// presence list, so it must decode, and stay small.

#include <QByteArray>
#include <QString>

namespace vorna::service {

namespace picture {

constexpr qint64 MaxBytes = 2 * 1024 * 1024;
constexpr int MaxSide = 2048;

// Why the picture cannot be used, as the end of a sentence that starts with the file name;
// empty when it can.
QString problemWith(const QByteArray &bytes);
// Reads and checks the file; a whole sentence naming the file when it cannot be used.
QString read(const QString &path, QByteArray *bytes);

} // namespace picture

} // namespace vorna::service
