// Start-up's choice of Qt Quick's render loop: the basic one when OpenGL renders in software,
// where the threaded one draws animations unpaced; never over the user's own choice.

#include "startup.h"

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QtTest>

class TestRenderLoop : public QObject
{
    Q_OBJECT

private slots:
    void init() { qunsetenv("QSG_RENDER_LOOP"); }
    void explicitLoopIsKept();
    void softwareRendererGetsTheBasicLoop();
};

void TestRenderLoop::explicitLoopIsKept()
{
    qputenv("QSG_RENDER_LOOP", "threaded");
    chooseRenderLoop();
    QCOMPARE(qgetenv("QSG_RENDER_LOOP"), QByteArray("threaded"));
}

void TestRenderLoop::softwareRendererGetsTheBasicLoop()
{
    QOffscreenSurface surface;
    surface.create();
    QOpenGLContext context;
    if (!context.create() || !context.makeCurrent(&surface))
        QSKIP("No OpenGL here.");
    const QByteArray renderer(reinterpret_cast<const char *>(context.functions()->glGetString(GL_RENDERER)));
    context.doneCurrent();
    if (!isSoftwareRenderer(renderer))
        QSKIP(qPrintable(QStringLiteral("OpenGL here is no software rasteriser: %1").arg(QString::fromLatin1(renderer))));
    chooseRenderLoop();
    QCOMPARE(qgetenv("QSG_RENDER_LOOP"), QByteArray("basic"));
}

QTEST_MAIN(TestRenderLoop)
#include "tst_renderloop.moc"
