#include "sessions/tokens.h"

#include <QCryptographicHash>

#include <sodium.h>

namespace vorna::service::tokens {

QByteArray generate()
{
    QByteArray raw(32, Qt::Uninitialized);
    randombytes_buf(raw.data(), size_t(raw.size()));
    return raw.toHex();
}

QByteArray digest(const QByteArray &token)
{
    return QCryptographicHash::hash(token, QCryptographicHash::Sha256);
}

} // namespace vorna::service::tokens
