#pragma once
// Session and device tokens: 32 random bytes as 64 hex characters. Only their SHA-256 is
// stored, so a copy of the database does not let anyone log in.

#include <QByteArray>

namespace vorna::service::tokens {

// A new random token (libsodium must be initialised).
QByteArray generate();
// The SHA-256 of a token as it travels in metadata; what the storage keeps.
QByteArray digest(const QByteArray &token);

} // namespace vorna::service::tokens
