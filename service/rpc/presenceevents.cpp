#include "rpc/presenceevents.h"

#include "ops/eventlog.h"

namespace vorna::service {

PresenceEvents::PresenceEvents(PresenceStore &storage, SessionHub &hub)
    : m_storage(storage)
    , m_hub(hub)
{
}

PresenceEvents::~PresenceEvents() = default;

void PresenceEvents::start()
{
    if (m_listener)
        return;
    m_listener = m_storage.listenForPresenceChanges(
        [this](qint64 departmentId) { m_hub.presenceChanged(departmentId); },
        [](const QString &problem) {
            EventLog::warning("presence-events", {{"result", QStringLiteral("listener-lost")},
                                                  {"msg", problem}});
        },
        [this] {
            EventLog::info("presence-events",
                           {{"result", QStringLiteral("listener-resumed")},
                            {"msg", QStringLiteral("Listening for presence changes again; every session stream was told "
                                                   "to reload, since changes made in the gap went unheard.")}});
            m_hub.presenceMayHaveChangedAnywhere();
        });
}

void PresenceEvents::changed(qint64 departmentId)
{
    if (!m_storage.sharesChanges()) {
        m_hub.presenceChanged(departmentId);
        return;
    }
    const StorageError error = m_storage.announcePresenceChange(departmentId);
    if (error.ok())
        return;
    // The other instances miss this one; this instance's own panels still hear of it.
    EventLog::warning("presence-events", {{"result", QStringLiteral("not-announced")}, {"msg", error.message}});
    m_hub.presenceChanged(departmentId);
}

} // namespace vorna::service
