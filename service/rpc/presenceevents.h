#pragma once
// Carries "someone's presence changed in department D" from where a change is stored (a
// terminal's registration, a calendar or exception assignment) to the session streams whose
// users see that department. With SQLite the service makes its own changes, so the news goes
// straight to this process's streams; what another process (an import) writes, it reads from
// the database's change journal. On PostgreSQL several instances may share the database: the
// news goes out through it (NOTIFY), and each instance hands on what it hears (LISTEN), its own
// announcements included. After a gap in hearing them, every session stream is told once,
// since any of its departments may have changed meanwhile.

#include "sessions/sessionhub.h"
#include "storage/presencestore.h"

#include <memory>

namespace vorna::service {

class PresenceEvents
{
public:
    PresenceEvents(PresenceStore &presence, SessionHub &hub);
    ~PresenceEvents();

    // Starts hearing the changes that other processes announce through the database.
    void start();
    // After a change to someone's presence in `departmentId` was stored.
    void changed(qint64 departmentId);

private:
    PresenceStore &m_storage;
    SessionHub &m_hub;
    std::unique_ptr<PresenceChangeListener> m_listener;
};

} // namespace vorna::service
