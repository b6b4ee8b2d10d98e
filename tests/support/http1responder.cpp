#include "support/http1responder.h"

#include <QTcpSocket>

Http1Responder::Http1Responder()
{
    connect(this, &QTcpServer::newConnection, this, &Http1Responder::answer);
    listen(QHostAddress::LocalHost, 0);
}

QString Http1Responder::url() const
{
    return QStringLiteral("tcp://127.0.0.1:%1/CommService").arg(port());
}

void Http1Responder::answer()
{
    while (QTcpSocket *socket = nextPendingConnection()) {
        connect(socket, &QTcpSocket::readyRead, socket, [socket] {
            socket->readAll();
            socket->write("HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
            socket->disconnectFromHost();
        });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}
