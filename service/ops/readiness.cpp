#include "ops/readiness.h"

#include "ops/eventlog.h"

#include <systemd/sd-daemon.h>

#include <cstring>

namespace vorna::service::readiness {

namespace {

void notify(const char *state)
{
    const int result = sd_notify(0, state);
    if (result < 0)
        EventLog::warning("notify", {{"state", QString::fromLatin1(state)},
                                     {"msg", QStringLiteral("Cannot tell systemd (%1). The unit may time out "
                                                            "waiting for readiness; check NOTIFY_SOCKET.")
                                                 .arg(QString::fromLocal8Bit(std::strerror(-result)))}});
}

} // namespace

void ready() { notify("READY=1"); }
void stopping() { notify("STOPPING=1"); }

} // namespace vorna::service::readiness
