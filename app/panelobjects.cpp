#include "panelobjects.h"

#include "empimage.h"
#include "empimageprovider.h"
#include "platform.h"
#include "processrefs.h"
#include "servicehandler.h"
#include "translationclient.h"

#include <QQmlContext>
#include <QQmlEngine>

PanelObjects::PanelObjects(const std::function<QObject *()> &createServiceClient)
{
    m_pictureStore = std::make_unique<EmpImage>();
    ProcessRefs::setPictureStore(m_pictureStore.get());

    m_serviceClient.reset(createServiceClient());
    ProcessRefs::setServiceClient(m_serviceClient.get());

    m_platform = std::make_unique<Platform>();

    m_unpublishedProvider = std::make_unique<EmpImageProvider>(QQmlImageProviderBase::Image);
    m_imageProvider = m_unpublishedProvider.get();
    ProcessRefs::setImageProvider(m_imageProvider);

    // Connects to the service client and the logger, so both must exist by now.
    m_serviceHandler = std::make_unique<ServiceHandler>();

    m_translation = std::make_unique<TranslationClient>();
}

PanelObjects::~PanelObjects()
{
    // Reverse order of creation; an unpublished provider goes between handler and platform.
    m_translation.reset();
    m_serviceHandler.reset();
    m_unpublishedProvider.reset();
    m_platform.reset();
    m_serviceClient.reset();
    m_pictureStore.reset();
}

bool PanelObjects::publishTo(QQmlEngine *engine)
{
    if (!m_unpublishedProvider)
        return false;
    QQmlContext *context = engine->rootContext();
    context->setContextProperty(QStringLiteral("translation"), m_translation.get());
    context->setContextProperty(QStringLiteral("service"), m_serviceClient.get());
    context->setContextProperty(QStringLiteral("platform"), m_platform.get());
    engine->addImageProvider(QStringLiteral("emp"), m_unpublishedProvider.release());
    return true;
}

EmpImage *PanelObjects::pictureStore() const
{
    return m_pictureStore.get();
}

QObject *PanelObjects::serviceClient() const
{
    return m_serviceClient.get();
}

Platform *PanelObjects::platform() const
{
    return m_platform.get();
}

EmpImageProvider *PanelObjects::imageProvider() const
{
    return m_imageProvider;
}

ServiceHandler *PanelObjects::serviceHandler() const
{
    return m_serviceHandler.get();
}

TranslationClient *PanelObjects::translation() const
{
    return m_translation.get();
}
