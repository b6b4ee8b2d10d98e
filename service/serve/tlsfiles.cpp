#include "serve/tlsfiles.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <memory>

namespace vorna::service {

namespace {

struct BioFree { void operator()(BIO *bio) const { BIO_free(bio); } };
struct X509Free { void operator()(X509 *cert) const { X509_free(cert); } };
struct KeyFree { void operator()(EVP_PKEY *key) const { EVP_PKEY_free(key); } };

std::unique_ptr<BIO, BioFree> memoryBio(const std::string &pem)
{
    return std::unique_ptr<BIO, BioFree>(BIO_new_mem_buf(pem.data(), int(pem.size())));
}

// OpenSSL's reason for the last failure, e.g. "no start line" or "bad decrypt".
QString lastReason()
{
    const unsigned long code = ERR_peek_last_error();
    const char *reason = code ? ERR_reason_error_string(code) : nullptr;
    ERR_clear_error();
    return reason ? QString::fromLatin1(reason) : QStringLiteral("not PEM");
}

// A service cannot ask for a pass phrase; refuse an encrypted key instead of prompting.
int noPassphrase(char *, int, int, void *)
{
    return -1;
}

} // namespace

QString checkTlsPair(const QString &certFile, const std::string &certPem,
                     const QString &keyFile, const std::string &keyPem)
{
    ERR_clear_error();
    auto certBio = memoryBio(certPem);
    std::unique_ptr<X509, X509Free> cert(PEM_read_bio_X509(certBio.get(), nullptr, nullptr, nullptr));
    if (!cert)
        return QStringLiteral("The TLS certificate file %1 holds no PEM certificate (%2). Give the certificate "
                              "chain in PEM form, starting with -----BEGIN CERTIFICATE-----.")
            .arg(certFile, lastReason());
    auto keyBio = memoryBio(keyPem);
    std::unique_ptr<EVP_PKEY, KeyFree> key(PEM_read_bio_PrivateKey(keyBio.get(), nullptr, noPassphrase, nullptr));
    if (!key)
        return QStringLiteral("The TLS key file %1 holds no usable PEM private key (%2). Give the certificate's "
                              "private key in PEM form, without a pass phrase.")
            .arg(keyFile, lastReason());
    if (X509_check_private_key(cert.get(), key.get()) != 1) {
        ERR_clear_error();
        return QStringLiteral("The TLS key file %1 does not belong to the certificate in %2. Give the key the "
                              "certificate was issued for.").arg(keyFile, certFile);
    }
    return {};
}

} // namespace vorna::service
