#include "processrefs.h"

#include "empimage.h"
#include "modelpresencelist.h"

#include <QPointer>

namespace {
QPointer<QObject> g_serviceClient;
QPointer<EmpImage> g_pictureStore;
EmpImageProvider *g_imageProvider = nullptr;
QPointer<ModelPresenceList> g_currentPresenceList;
} // namespace

namespace ProcessRefs {

QObject *serviceClient()
{
    return g_serviceClient;
}

void setServiceClient(QObject *client)
{
    g_serviceClient = client;
}

EmpImage *pictureStore()
{
    return g_pictureStore;
}

void setPictureStore(EmpImage *store)
{
    g_pictureStore = store;
}

EmpImageProvider *imageProvider()
{
    return g_imageProvider;
}

void setImageProvider(EmpImageProvider *provider)
{
    g_imageProvider = provider;
}

ModelPresenceList *currentPresenceList()
{
    return g_currentPresenceList;
}

void setCurrentPresenceList(ModelPresenceList *list)
{
    g_currentPresenceList = list;
}

} // namespace ProcessRefs
