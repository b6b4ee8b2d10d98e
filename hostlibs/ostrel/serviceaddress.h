#pragma once
// The address the login page builds, "tcp://HOST:PORT/CommService", taken apart and checked.

#include <QString>

#include <string>

namespace ostrel {

class ServiceAddress
{
public:
    enum class HostKind { Name, IPv4, IPv6 };

    // Returns an invalid address and sets `error` to a sentence for the user when `url` is not
    // of the form tcp://HOST:PORT/CommService (HOST a name, an IPv4 address or an IPv6 address
    // in brackets; PORT 1 to 65535).
    static ServiceAddress parse(const QString &url, QString *error);

    bool isValid() const { return m_port != 0; }
    QString host() const { return m_host; }
    HostKind hostKind() const { return m_kind; }
    int port() const { return m_port; }
    // "HOST:PORT" (IPv6 in brackets), as messages show it.
    QString display() const;
    // The target string gRPC resolves: ipv4:/ipv6: for literals, dns:/// for names.
    std::string grpcTarget() const;

private:
    QString m_host;
    HostKind m_kind = HostKind::Name;
    int m_port = 0;
};

} // namespace ostrel
