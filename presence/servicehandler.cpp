#include "servicehandler.h"

#include "empimage.h"
#include "logrecord.h"
#include "modelpresenceitem.h"
#include "modelpresencelist.h"
#include "processrefs.h"

#include <QCoreApplication>

ServiceHandler::ServiceHandler(QObject *parent)
    : QObject(parent)
{
    LogRecord::connectToLogger(this);
    QObject *client = ProcessRefs::serviceClient();
    if (!client)
        return;
    connect(client, SIGNAL(dbPresenceResponseBegin()), this, SLOT(dbPresenceResponseBegin()));
    connect(client,
            SIGNAL(dbPresenceResponse(QString,QString,QString,QDateTime,bool,QString,QString,QByteArray,QString,int)),
            this,
            SLOT(dbPresenceResponse(QString,QString,QString,QDateTime,bool,QString,QString,QByteArray,QString,int)));
    connect(client, SIGNAL(dbPresenceResponseEnd()), this, SLOT(dbPresenceResponseEnd()));
}

void ServiceHandler::dbPresenceResponseBegin()
{
    VORNA_LOG(this, "dbPresenceResponseBegin", "ServiceHandler::dbPresenceResponseBegin");
    // No list is current before the first presence screen or after its model is gone.
    if (ModelPresenceList *list = ProcessRefs::currentPresenceList())
        list->deleteAllItems();
    if (EmpImage *store = ProcessRefs::pictureStore())
        store->reset();
}

void ServiceHandler::dbPresenceResponse(QString idEmp, QString lastName, QString firstName,
                                        QDateTime lastActDT, bool old, QString lastActDesc,
                                        QString department, QByteArray picture, QString presence,
                                        int actColor)
{
    // Looked up per row, so rows follow the language active when they arrive.
    const QString pattern = QCoreApplication::translate("ServiceHandler", "MM/dd/yyyy hh:mm");
    ModelPresenceItem item;
    item.idEmp = idEmp;
    item.lastName = lastName;
    item.firstName = firstName;
    item.lastActDT = lastActDT;
    item.lastActDT2 = lastActDT.toString(pattern);
    item.old = old;
    item.lastActDesc = lastActDesc;
    item.department = department;
    item.picture = picture;
    item.presence = presence;
    item.actColor = actColor;
    if (ModelPresenceList *list = ProcessRefs::currentPresenceList())
        list->appendItem(item);
    if (EmpImage *store = ProcessRefs::pictureStore())
        store->addImage(idEmp, picture);
}

void ServiceHandler::dbPresenceResponseEnd()
{
    VORNA_LOG(this, "dbPresenceResponseEnd", "ServiceHandler::dbPresenceResponseEnd");
}
