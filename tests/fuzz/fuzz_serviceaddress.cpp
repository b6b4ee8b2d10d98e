// The client's service address, as the login page builds it from what the user typed. Any
// text gets an answer; an accepted address names a clean host and port, shows itself in a
// form that parses back to the same address, and gives gRPC a target of a known scheme.

#include "fuzzsupport.h"
#include <ostrel/serviceaddress.h>

using ostrel::ServiceAddress;

namespace {

bool startsWith(const std::string &text, const char *prefix)
{
    return text.rfind(prefix, 0) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString url = fuzz::utf8Text(data, size);
    QString error;
    const ServiceAddress address = ServiceAddress::parse(url, &error);
    if (!address.isValid()) {
        fuzz::require(!error.isEmpty(), "a refused address comes with a message", url);
        return 0;
    }

    fuzz::require(address.port() >= 1 && address.port() <= 65535, "the port is 1 to 65535", url);
    // The host reaches gRPC's resolver and every message that names the service.
    fuzz::require(!address.host().isEmpty() && fuzz::isPrintableAscii(address.host()),
                  "the host is printable ASCII without spaces", url);

    QString again;
    const ServiceAddress reparsed =
        ServiceAddress::parse(QStringLiteral("tcp://%1/CommService").arg(address.display()), &again);
    fuzz::require(reparsed.isValid() && reparsed.host() == address.host() &&
                      reparsed.port() == address.port() && reparsed.hostKind() == address.hostKind(),
                  "the displayed address parses back to the same address", url);

    const std::string target = address.grpcTarget();
    fuzz::require(startsWith(target, "ipv4:") || startsWith(target, "ipv6:") ||
                      startsWith(target, "dns:///"),
                  "the gRPC target has a known scheme", url);
    return 0;
}
