#pragma once
// A plain HTTP/1.1 server on 127.0.0.1 that answers "400 Bad Request" to whatever arrives:
// what the client meets when the address points at a web server instead of the service.
// Serves from the thread it lives on, so that thread must run its event loop.

#include <QTcpServer>

class Http1Responder : public QTcpServer
{
public:
    // Listens on a free port; check isListening().
    Http1Responder();
    int port() const { return serverPort(); }
    QString url() const;

private:
    void answer();
};
