#pragma once
// Tells systemd (Type=notify) when the service is ready and when it stops. Without
// NOTIFY_SOCKET, as under a shell or in tests, both do nothing.

namespace vorna::service::readiness {

// After the port listens: systemctl start returns, and units ordered after us start.
void ready();
// On shutdown, so systemd shows "deactivating" while calls finish.
void stopping();

} // namespace vorna::service::readiness
