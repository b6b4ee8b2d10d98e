#pragma once
// POSIX sockets on 127.0.0.1 for the tests and the benchmark: a closed port, a listener that
// never answers, a plain connection.

#include <QtGlobal>

// A TCP socket bound to a free port of 127.0.0.1 (not yet listening); -1 on failure.
int bindLoopback(int *port);
// Connects to 127.0.0.1:port; -1 on failure.
int connectLoopback(int port);
