// The service's command-line values that are not plain numbers: the listen address and the
// durations. Whatever is typed, the checks give an answer, and what they accept is usable.

#include "fuzzsupport.h"
#include "ops/serverconfig.h"

using vorna::service::checkListenAddress;
using vorna::service::parseDuration;

namespace {

bool isAsciiDigits(const QString &text)
{
    if (text.isEmpty())
        return false;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
}

void checkAddress(const QString &address)
{
    if (!checkListenAddress(address).isEmpty())
        return;
    // Accepted: gRPC is handed HOST:PORT as it stands, so both halves must be what they claim.
    const int colon = address.lastIndexOf(QLatin1Char(':'));
    fuzz::require(colon > 0, "an accepted listen address has a host and a port", address);
    const QString host = address.left(colon);
    const QString port = address.mid(colon + 1);
    fuzz::require(isAsciiDigits(port) && port.toInt() <= 65535,
                  "an accepted listen address ends in a port of digits from 0 to 65535", address);
    fuzz::require(!host.contains(QLatin1Char(':')) ||
                      (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']'))),
                  "an IPv6 host of an accepted listen address is in brackets", address);
    fuzz::require(fuzz::isPrintableAscii(host),
                  "the host of an accepted listen address has no spaces or control characters",
                  address);
}

void checkDuration(const QString &text)
{
    std::chrono::seconds parsed{-1};
    if (!parseDuration(text, &parsed))
        return;
    // At most nine digits of hours: no overflow, nothing below the documented one second.
    fuzz::require(parsed.count() >= 1 && parsed.count() <= 999999999LL * 3600,
                  "an accepted duration lies between 1 s and 999,999,999 h", text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = fuzz::utf8Text(data, size);
    checkAddress(text);
    checkDuration(text);
    return 0;
}
