#pragma once
// The process's descriptor limit (RLIMIT_NOFILE) and what it leaves for connections.

namespace vorna::service {

// Raises the soft limit to the hard one; returns the soft limit now in force.
long raiseDescriptorLimit();

// The default for --max-connections: the soft limit less what the service keeps for itself
// (database files, gRPC's own descriptors, the reserve), and at most 65536.
int connectionsWithin(long descriptorLimit);

} // namespace vorna::service
