#pragma once
// File-level work on SQLite databases for `backup`, `restore` and the commands that must not
// touch a file that is not theirs: consistent copies through SQLite's online backup API,
// checks, and durable replacement. Every file made here is readable by its owner only (0600),
// as the database holds password hashes; SQLite gives -wal and -shm the database's mode.

#include <QString>

namespace vorna::service::sqlitefiles {

// Copies the database `from` into a new file `to` (mode 0600; it must not exist) through the
// online backup API: one read transaction, so the copy is the database at one moment even while
// a service writes.
bool copy(const QString &from, const QString &to, QString *error);

// True when `path` passes PRAGMA integrity_check and holds a vorna schema (schema_migrations
// with a version); `schemaVersion` gets it.
bool checkVornaDatabase(const QString &path, int *schemaVersion, QString *error);

// The schema version of the database at `path`, read without changing the file (no journal
// mode switch, no header written to an empty file): 0 for an empty database. False with a
// sentence when the file is not an SQLite database or holds tables that are not vorna-service's.
bool readSchemaVersion(const QString &path, int *schemaVersion, QString *error);

// Folds the write-ahead log of a database nobody writes to into the file, so that -wal and
// -shm can go. A missing database has nothing to fold. False with a sentence when the log
// could not be folded completely (a program still reads the database, the disk is full):
// removing -wal then would lose the transactions in it.
bool foldWriteAheadLog(const QString &path, QString *error);

// fsync of a file or a folder (a rename is durable only once its folder is synced).
bool sync(const QString &path, QString *error);

} // namespace vorna::service::sqlitefiles
