#pragma once
// Checks the TLS certificate chain and key before the server is built: gRPC reports a junk PEM
// file only as a listener that would not start.

#include <QString>

#include <string>

namespace vorna::service {

// An empty string when `certPem` holds at least one certificate, `keyPem` an unencrypted
// private key, and the key belongs to the first certificate; otherwise a sentence naming the
// file and the reason. The paths are only for the message.
QString checkTlsPair(const QString &certFile, const std::string &certPem,
                     const QString &keyFile, const std::string &keyPem);

} // namespace vorna::service
