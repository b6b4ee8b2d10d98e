#pragma once
// The panel's long-lived native objects, created in the order the rest of the program relies
// on, with the process-wide references set right after each one:
//   picture store, service client, platform descriptor, image provider, service handler,
//   translation client.
// Destruction runs in exact reverse. Start-up owns one set; QML tests build their own around
// a scripted stand-in for the service client and publish it on their engine the same way.

#include <functional>
#include <memory>

class EmpImage;
class EmpImageProvider;
class Platform;
class QObject;
class QQmlEngine;
class ServiceHandler;
class TranslationClient;

class PanelObjects
{
public:
    // `createServiceClient` makes the service client; PanelObjects owns what it returns.
    explicit PanelObjects(const std::function<QObject *()> &createServiceClient);
    ~PanelObjects();
    PanelObjects(const PanelObjects &) = delete;
    PanelObjects &operator=(const PanelObjects &) = delete;

    // Sets the context properties "translation", "service" and "platform", in this order, and
    // hands the image provider to `engine` under the id "emp". The engine then owns the
    // provider, so this works once; a second call returns false and changes nothing.
    bool publishTo(QQmlEngine *engine);

    EmpImage *pictureStore() const;
    QObject *serviceClient() const;
    Platform *platform() const;
    // Once published, the provider lives only as long as the engine it went to.
    EmpImageProvider *imageProvider() const;
    ServiceHandler *serviceHandler() const;
    TranslationClient *translation() const;

private:
    std::unique_ptr<EmpImage> m_pictureStore;
    std::unique_ptr<QObject> m_serviceClient;
    std::unique_ptr<Platform> m_platform;
    // Owned here until publishTo hands it to an engine.
    std::unique_ptr<EmpImageProvider> m_unpublishedProvider;
    EmpImageProvider *m_imageProvider = nullptr;
    std::unique_ptr<ServiceHandler> m_serviceHandler;
    std::unique_ptr<TranslationClient> m_translation;
};
