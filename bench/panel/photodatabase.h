#pragma once
// The photo organisation of the benchmarks: an import folder of employees with an office's real
// photos (support/portraitphoto.h) and an SQLite database made from it as an operator makes one,
// `vorna-service init` and `import`, with a manager who may log in. Both take long to make
// (an hour of encoding, minutes of import for 10,000) and are kept for the next runs.

#include <QString>

namespace vorna::bench {

// The manager that photoDatabase() adds.
inline const QString PhotoManager = QStringLiteral("manager");
inline const QString PhotoManagerPassword = QStringLiteral("vorna-demo");

// Where both photo benchmarks keep the folder and the database unless told otherwise:
// bench/photo-organisation in the build folder.
QString defaultPhotoCache();

// The import folder of `employees` photos: `given` when set, which must be complete (another
// run may still be writing it), else `ownRoot`/photos-N, written unless already complete.
// Empty with *error when neither can be had.
QString photoFolder(const QString &given, const QString &ownRoot, int employees, QString *error);

// The number of employees an import folder's employees.csv lists; -1 when it cannot be read.
int employeesInFolder(const QString &folder);

// `cacheDir`/photos-N.db, imported from `folder` (which must list N employees) on first use.
// It is built under another name and renamed when done, so an interrupted build is never
// taken for a database. Empty with *error when a step failed.
QString photoDatabase(const QString &cacheDir, const QString &folder, int employees, QString *error);

} // namespace vorna::bench
