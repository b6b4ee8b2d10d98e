#include "startup.h"

#include <ostrel/clientobjectqml.h>
#include "consolelog.h"
#include <harrow/harrow.h>
#include "modelpresencefilter.h"
#include "panelobjects.h"
#include "passwordvault.h"
#include <pindle/pindle.h>

#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QMetaType>
#include <QNetworkProxyFactory>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QQmlApplicationEngine>
#include <QQuickStyle>
#include <QUrl>
#include <QtQml>

#include <cstdio>
#include <cstring>

namespace {

void setIdentity()
{
    // Qt's platform settings store, used by the QML Settings elements, files values under
    // the organisation and application names.
    QCoreApplication::setApplicationVersion(QStringLiteral(VORNA_VERSION));
    QCoreApplication::setOrganizationName(QStringLiteral("Quorvane"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("quorvane.rs"));
    QCoreApplication::setApplicationName(QStringLiteral("VornaPanel3"));
}

void openSettings()
{
    SettingsIniOpen();
    if (Settings *settings = SettingsIniInstance())
        settings->setValueLogConsole(true);
}

// Whatever looks the type up by name (queued connections, QML) finds Qt's built-in QUuid.
void registerUuidAlias()
{
    QMetaType::registerNormalizedTypedef(QMetaObject::normalizedType("QUuid"), QMetaType::QUuid);
}

void openLog()
{
    HarrowInitializer::init();
    LogOpen(0);
    routeQmlConsoleToLog();
}

// The desktop entry and the icon theme name the program "vornapanel"; the window shows the
// same drawing. Only the program carries the icon in its resources.
void setDesktopIdentity(QGuiApplication &app)
{
    QGuiApplication::setDesktopFileName(QStringLiteral("vornapanel"));
    QIcon icon;
    for (int size : {48, 128, 256})
        icon.addFile(QStringLiteral(":/appicon/vornapanel-%1.png").arg(size), QSize(size, size));
    app.setWindowIcon(icon);
}

// --version needs no display, so it is answered before the application object exists.
bool askedForVersion(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0)
            return true;
    }
    return false;
}

// Teardown at the end of this scope is the reverse of creation: the engine first (taking
// the image provider and every QML object with it), then the panel's objects.
int loadAndRun(QGuiApplication &app)
{
    PanelObjects objects([] { return new ClientObjectQml(); });
    QQmlApplicationEngine engine;
    objects.publishTo(&engine);
    engine.load(QUrl(QStringLiteral("qrc:/main.qml"), QUrl::TolerantMode));
    // The engine has already reported why the file gave nothing.
    if (engine.rootObjects().isEmpty())
        return -1;
    return app.exec();
}

} // namespace

bool isSoftwareRenderer(const QByteArray &glRenderer)
{
    // Mesa's llvmpipe, softpipe and swrast ("Software Rasterizer"), and Windows' own.
    for (const char *name : {"llvmpipe", "softpipe", "Software Rasterizer", "GDI Generic"}) {
        if (glRenderer.contains(name))
            return true;
    }
    return false;
}

void chooseRenderLoop()
{
    if (qEnvironmentVariableIsSet("QSG_RENDER_LOOP"))
        return;
    QOffscreenSurface surface;
    surface.create();
    QOpenGLContext context;
    if (!context.create() || !context.makeCurrent(&surface))
        return;
    const QByteArray renderer(reinterpret_cast<const char *>(context.functions()->glGetString(GL_RENDERER)));
    context.doneCurrent();
    if (isSoftwareRenderer(renderer))
        qputenv("QSG_RENDER_LOOP", "basic");
}

void registerPanelQmlTypes()
{
    qmlRegisterType<ModelPresenceFilter>("rs.quorvane", 1, 0, "ModelPresence");
    qmlRegisterType<PasswordVault>("rs.quorvane", 1, 0, "PasswordVault");
}

void prepareBeforeApplication()
{
    // Both must be in place before the application object exists.
    QNetworkProxyFactory::setUseSystemConfiguration(false);
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
#if defined(Q_OS_LINUX) && !defined(Q_OS_ANDROID)
    // Without TZ, glibc looks /etc/localtime up again at every local-time conversion, a few per
    // presence row. Naming the same zone file keeps the zone and spares the look-ups; Qt reads
    // this value as the system zone.
    if (qEnvironmentVariableIsEmpty("TZ") && QFileInfo::exists(QStringLiteral("/etc/localtime")))
        qputenv("TZ", ":/etc/localtime");
#endif
}

void configurePanelProcess()
{
    registerPanelQmlTypes();
    QQuickStyle::setStyle(QStringLiteral("Material"));
    chooseRenderLoop();
    setIdentity();
    openSettings();
    registerUuidAlias();
    // Objects may connect to the logger only after this.
    openLog();
}

int runPanel(int &argc, char **argv)
{
    if (askedForVersion(argc, argv)) {
        std::printf("vornapanel %s\n", VORNA_VERSION);
        return 0;
    }
    prepareBeforeApplication();
    QGuiApplication app(argc, argv);
    configurePanelProcess();
    setDesktopIdentity(app);
    return loadAndRun(app);
}
