#pragma once
// The picture store: how the service handler fills and empties the image provider, which
// it reaches through the process-wide image-provider reference.

#include <QByteArray>
#include <QObject>
#include <QString>

class EmpImage : public QObject
{
    Q_OBJECT

public:
    explicit EmpImage(QObject *parent = nullptr);

public slots:
    void reset();
    void addImage(QString empId, QByteArray data);
};
