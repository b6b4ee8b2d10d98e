// The presence list page under a 10,000-row answer.
//
// Figures, each over several rounds in one process (names end in these words):
//   to_frame from dbPresenceResponseBegin until the first frame after the page has handled
//            dbPresenceResponseEnd: the service handler, the model, the filter, the page's
//            own per-row status counting and the list view's first frame of the new rows.
//   handled  the same burst up to the return of dbPresenceResponseEnd, without the frame.
//   gui_cpu  the GUI thread's CPU time over to_frame (the handlers, the view's polish and
//            the scene sync; not the render thread).
//   native_cpu  the same burst through the service handler, the model and the filter alone,
//            with no page listening: the native layers' share of gui_cpu.
//   qml_cpu  gui_cpu minus native_cpu, round by round: the page's and the view's share.
// The shares come from CPU time, which a busy machine does not stretch as it does the wall
// clock; to_frame and handled are wall-clock times, as the user sees them.
//
// The pages run in the real main window (qrc:/main.qml), pushed onto its stack, with the real
// service handler, model and filter; only the service client is a stand-in: the QML tests'
// ScriptedService, answered by CannedAnswers.
//
// Usage: bench_qml_pagelist [--runs N] [--rows N] [--screenshots DIR]
// Run under a display (xvfb-run -a). With --screenshots it renders the list and detail pages
// at 400x600 and 1280x900, light and dark, into DIR, instead of timing.

#include "cannedanswers.h"
#include "frameprobe.h"
#include <harrow/harrow.h>
#include "modelpresencefilter.h"
#include "panelobjects.h"
#include "support/scriptedservice.h"
#include "startup.h"

#include <QBuffer>
#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QQmlContext>
#include <QQmlExpression>
#include <QPainter>
#include <QQmlApplicationEngine>
#include <QQmlProperty>
#include <QPointer>
#include <QQuickItem>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QTimer>
#include <QtQml>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>

namespace {

constexpr int FrameTimeoutMs = FrameProbe::FrameTimeoutMs;

struct Row
{
    QString idEmp;
    QString lastName;
    QString firstName;
    QDateTime lastActDT;
    bool old;
    QString lastActDesc;
    QString department;
    QByteArray picture;
    QString presence;
    int actColor;
};

QByteArray portrait(int seed)
{
    QImage image(160, 200, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(image.rect(), QColor::fromHsv((seed * 47) % 360, 60, 230));
    painter.setBrush(QColor::fromHsv((seed * 47 + 180) % 360, 90, 120));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QPointF(80, 75), 38, 46);
    painter.drawRoundedRect(QRectF(25, 135, 110, 90), 40, 40);
    painter.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// A plausible organisation: a handful of statuses, departments and names, a picture per row.
QVector<Row> makeRows(int count)
{
    static const char *lastNames[] = { "Petrović", "Jovanović", "Nikolić", "Marković", "Đorđević",
                                       "Stojanović", "Ilić", "Stanković", "Pavlović", "Milošević" };
    static const char *firstNames[] = { "Ana", "Marko", "Jelena", "Nikola", "Milica", "Stefan",
                                        "Ivana", "Luka", "Sara", "Filip" };
    static const char *departments[] = { "Production", "Warehouse", "Accounting", "Sales",
                                         "Maintenance", "Quality control" };
    static const char *activities[] = { "Entry", "Exit", "Break start", "Break end", "Business exit" };
    static const char *statuses[] = { "Present", "Absent", "On a break", "Business trip",
                                      "Sick leave", "Vacation" };
    static const int colors[] = { 0x0000A000, 0x000000D0, 0x0000C0FF, 0x00D08000, 0x00800080, 0x00808080 };

    QVector<QByteArray> pictures;
    for (int i = 0; i < 16; ++i)
        pictures.append(portrait(i));

    const QDateTime base(QDate(2018, 3, 5), QTime(16, 30));
    QVector<Row> rows;
    rows.reserve(count);
    for (int i = 0; i < count; ++i) {
        const int status = (i * 7 + i / 3) % 6;
        rows.append({ QStringLiteral("%1").arg(i + 1, 5, 10, QLatin1Char('0')),
                      QString::fromUtf8(lastNames[i % 10]), QString::fromUtf8(firstNames[(i / 10) % 10]),
                      base.addSecs(-60 * (i % 600)), i % 9 == 0,
                      QString::fromUtf8(activities[i % 5]), QString::fromUtf8(departments[(i / 3) % 6]),
                      pictures[i % pictures.size()], QString::fromUtf8(statuses[status]), colors[status] });
    }
    return rows;
}

void emitBurst(ScriptedService *service, const QVector<Row> &rows)
{
    emit service->dbPresenceResponseBegin();
    for (const Row &r : rows)
        emit service->dbPresenceResponse(r.idEmp, r.lastName, r.firstName, r.lastActDT, r.old,
                                         r.lastActDesc, r.department, r.picture, r.presence, r.actColor);
    emit service->dbPresenceResponseEnd();
}

struct Figures
{
    Figure total;      // wall clock, Begin to the first frame after End
    Figure handled;    // wall clock, Begin to the return of End
    Figure guiCpu;     // GUI thread CPU, Begin to the first frame
    Figure nativeCpu;  // GUI thread CPU of the service handler, model and filter alone
    Figure qmlCpu;     // guiCpu minus nativeCpu, round by round
};

struct PageRun
{
    double handledMs;  // wall clock, Begin to the return of End
    double frameMs;    // wall clock, Begin to the first frame after End; -1 if none came
    double guiCpuMs;   // GUI thread CPU over the same span (handlers, polish, sync)
};

class Bench
{
public:
    Bench(QQmlApplicationEngine &engine, ScriptedService *service)
        : m_service(service)
    {
        m_window = qobject_cast<QQuickWindow *>(engine.rootObjects().value(0));
        m_clock.start();
        m_probe = std::make_unique<FrameProbe>(m_window, m_clock);
    }

    QQuickWindow *window() const { return m_window; }
    FrameProbe &probe() { return *m_probe; }

    QQuickItem *pushPage(const QString &url, const QVariantMap &properties)
    {
        const QVariant page = evaluateInWindow(QStringLiteral("stackView.push(benchUrl, benchProperties)"),
                                               { { "benchUrl", url }, { "benchProperties", properties } });
        waitUntil([this] { return !stackBusy(); });
        return qobject_cast<QQuickItem *>(page.value<QObject *>());
    }

    // Pops the top page and waits until it is destroyed, so that it no longer listens.
    bool popPage()
    {
        const QPointer<QObject> top = evaluateInWindow(QStringLiteral("stackView.currentItem"), {}).value<QObject *>();
        evaluateInWindow(QStringLiteral("stackView.pop()"), {});
        return waitUntil([this, &top] {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            return !stackBusy() && top.isNull();
        });
    }

    // One burst into the page on view.
    PageRun pageRun(const QVector<Row> &rows)
    {
        m_probe->settle(2);
        const qint64 cpuStart = threadCpuNs();
        const qint64 start = m_clock.nsecsElapsed();
        emitBurst(m_service, rows);
        const qint64 handled = m_clock.nsecsElapsed();
        const qint64 swapped = m_probe->nextFrame();
        const qint64 cpuEnd = threadCpuNs();
        return { msSince(start, handled), swapped < 0 ? -1.0 : msSince(start, swapped),
                 msSince(cpuStart, cpuEnd) };
    }

    // GUI thread CPU of the same burst with only the native layers listening (the page must be
    // gone): a filter made here becomes the newest model, whose list the service handler fills.
    double nativeRun(const QVector<Row> &rows)
    {
        ModelPresenceFilter filter;
        const qint64 start = threadCpuNs();
        emitBurst(m_service, rows);
        const qint64 end = threadCpuNs();
        if (filter.rowCount() != rows.size())
            std::fprintf(stderr, "native run: the filter shows %d rows, expected %d\n",
                         filter.rowCount(), rows.size());
        return msSince(start, end);
    }

private:
    bool stackBusy()
    {
        return evaluateInWindow(QStringLiteral("stackView.busy"), {}).toBool();
    }

    // Lets frames pass (transitions, deferred deletes) until `done`; false after 10 seconds.
    bool waitUntil(const std::function<bool()> &done)
    {
        QElapsedTimer waited;
        waited.start();
        while (!done()) {
            if (waited.elapsed() > FrameTimeoutMs)
                return false;
            m_probe->settle(1);
        }
        m_probe->settle(2);
        return true;
    }

    // The stack is driven the way the pages drive it: from QML, in the main window's scope.
    QVariant evaluateInWindow(const QString &expression, const QVariantMap &values)
    {
        QQmlContext scope(qmlContext(m_window));
        for (auto it = values.begin(); it != values.end(); ++it)
            scope.setContextProperty(it.key(), it.value());
        QQmlExpression run(&scope, m_window, expression);
        const QVariant result = run.evaluate();
        if (run.hasError())
            std::fprintf(stderr, "%s\n", qPrintable(run.error().toString()));
        return result;
    }

    ScriptedService *m_service;
    QQuickWindow *m_window = nullptr;
    QElapsedTimer m_clock;
    std::unique_ptr<FrameProbe> m_probe;
};

int listRowCount(QQuickItem *page)
{
    QObject *listView = QQmlProperty::read(page, QStringLiteral("listView")).value<QObject *>();
    return QQmlProperty::read(listView, QStringLiteral("count")).toInt();
}

// One round: a fresh list page takes the burst, then, with the page gone, the native layers
// alone take it. Adjacent runs see the same load on the machine, so their difference is fair.
bool timeRound(Bench &bench, const QVector<Row> &rows, Figures &figures)
{
    QQuickItem *page = bench.pushPage(QStringLiteral("qrc:/PageList.qml"), { { "userName", "bench" } });
    if (!page) {
        std::fprintf(stderr, "The list page could not be created; see the QML errors above.\n");
        return false;
    }
    const PageRun run = bench.pageRun(rows);
    if (run.frameMs < 0) {
        std::fprintf(stderr, "No frame was shown within %d ms after the burst.\n", FrameTimeoutMs);
        return false;
    }
    if (listRowCount(page) != rows.size()) {
        std::fprintf(stderr, "The list page shows %d rows, expected %d.\n", listRowCount(page), rows.size());
        return false;
    }
    if (!bench.popPage()) {
        std::fprintf(stderr, "The list page was still alive %d ms after it was popped.\n", FrameTimeoutMs);
        return false;
    }
    const double native = bench.nativeRun(rows);
    figures.total.values.append(run.frameMs);
    figures.handled.values.append(run.handledMs);
    figures.guiCpu.values.append(run.guiCpuMs);
    figures.nativeCpu.values.append(native);
    figures.qmlCpu.values.append(run.guiCpuMs - native);
    return true;
}

int timeBursts(Bench &bench, int runs, int rowCount)
{
    const QVector<Row> rows = makeRows(rowCount);
    Figures warmUp;  // first creation of the page's components, delegates and caches
    if (!timeRound(bench, rows, warmUp))
        return 1;
    Figures figures;
    for (int i = 0; i < runs; ++i) {
        if (!timeRound(bench, rows, figures))
            return 1;
    }

    const QString prefix = QStringLiteral("qml_pagelist_%1").arg(rowCount % 1000 == 0 ? QStringLiteral("%1k").arg(rowCount / 1000)
                                                                                         : QString::number(rowCount));
    auto shareOf = [](const Figure &part, const Figure &whole, const char *what) {
        return QStringLiteral(" ratio=%1 target=share of %2").arg(part.median() / whole.median(), 0, 'f', 2).arg(what);
    };
    printFigure(prefix + "_to_frame", figures.total, QStringLiteral(" target=<=400ms under Xvfb"));
    printFigure(prefix + "_handled", figures.handled, shareOf(figures.handled, figures.total, "to_frame"));
    printFigure(prefix + "_gui_cpu", figures.guiCpu, QStringLiteral(" target=GUI thread CPU of to_frame"));
    printFigure(prefix + "_native_cpu", figures.nativeCpu, shareOf(figures.nativeCpu, figures.guiCpu, "gui_cpu"));
    printFigure(prefix + "_qml_cpu", figures.qmlCpu, shareOf(figures.qmlCpu, figures.guiCpu, "gui_cpu"));
    return 0;
}

QObject *child(QQuickItem *page, const char *alias)
{
    return QQmlProperty::read(page, QString::fromLatin1(alias)).value<QObject *>();
}

class Shooter
{
public:
    Shooter(Bench &bench, const QString &dir) : m_bench(bench), m_dir(dir) {}

    // Grabs the window at each size in each theme as <name>_<w>x<h>_<theme>.png.
    void shoot(const QString &name)
    {
        QQuickWindow *window = m_bench.window();
        for (int theme : { 1, 0 }) {
            window->setProperty("gTheme", theme);
            QMetaObject::invokeMethod(window, "setTheme");
            for (const QSize &size : { QSize(400, 600), QSize(1280, 900) }) {
                window->resize(size);
                m_bench.probe().settle(4);
                const QString file = QStringLiteral("%1/%2_%3x%4_%5.png").arg(m_dir, name)
                                         .arg(size.width()).arg(size.height())
                                         .arg(theme == 0 ? "dark" : "light");
                window->grabWindow().save(file);
                std::printf("wrote %s\n", qPrintable(file));
            }
        }
        window->setProperty("gTheme", 1);
        QMetaObject::invokeMethod(window, "setTheme");
        window->resize(400, 600);
    }

private:
    Bench &m_bench;
    QString m_dir;
};

int takeScreenshots(Bench &bench, ScriptedService *service, const QString &dir)
{
    QDir().mkpath(dir);
    Shooter shooter(bench, dir);
    QQuickItem *list = bench.pushPage(QStringLiteral("qrc:/PageList.qml"), { { "userName", "bench" } });
    if (!list) {
        std::fprintf(stderr, "The list page could not be created; see the QML errors above.\n");
        return 1;
    }
    emitBurst(service, makeRows(40));
    shooter.shoot(QStringLiteral("list"));
    child(list, "buttonSearch")->setProperty("checked", true);
    child(list, "tfFilter")->setProperty("text", QStringLiteral("petro"));
    shooter.shoot(QStringLiteral("list_search"));
    child(list, "buttonSearch")->setProperty("checked", false);

    QQuickItem *detail = bench.pushPage(QStringLiteral("qrc:/PageDetail.qml"),
                                        { { "empId", "00001" }, { "lastName", QStringLiteral("Petrović") },
                                          { "firstName", "Ana" }, { "department", "Production" },
                                          { "presence", "Present" },
                                          { "currentDate", QDateTime(QDate::currentDate(), QTime(9, 15)) } });
    if (!detail) {
        std::fprintf(stderr, "The detail page could not be created; see the QML errors above.\n");
        return 1;
    }
    bench.probe().settle(6);  // the request chain answers through the event loop
    shooter.shoot(QStringLiteral("detail"));
    QMetaObject::invokeMethod(child(detail, "popupAssignCalendar"), "open");
    shooter.shoot(QStringLiteral("detail_assign"));
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    // The main window stores its size, theme and language: never in the user's own store.
    QTemporaryDir scratch;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(scratch.filePath(QStringLiteral("config"))));
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    QGuiApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Quorvane"));
    QCoreApplication::setApplicationName(QStringLiteral("VornaPanel3"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Times the presence list page under a large answer."));
    parser.addHelpOption();
    QCommandLineOption runsOption(QStringLiteral("runs"), QStringLiteral("Timed runs per figure (at least 5)."),
                                  QStringLiteral("N"), QStringLiteral("7"));
    QCommandLineOption rowsOption(QStringLiteral("rows"), QStringLiteral("Rows in the answer."),
                                  QStringLiteral("N"), QStringLiteral("10000"));
    QCommandLineOption shotsOption(QStringLiteral("screenshots"),
                                   QStringLiteral("Render the pages into DIR instead of timing."), QStringLiteral("DIR"));
    parser.addOptions({ runsOption, rowsOption, shotsOption });
    parser.process(app);
    const int runs = std::max(5, parser.value(runsOption).toInt());
    const int rowCount = std::max(1, parser.value(rowsOption).toInt());

    registerPanelQmlTypes();
    QQuickStyle::setStyle(QStringLiteral("Material"));

    // The log goes to a scratch file: writing the records is part of the work.
    HarrowInitializer::init();
    LogOpenAt(scratch.filePath(QStringLiteral("bench.log")), 0, 0);

    ScriptedService *service = nullptr;
    PanelObjects objects([&service] {
        service = new ScriptedService;
        new CannedAnswers(service);
        return service;
    });
    QQmlApplicationEngine engine;
    objects.publishTo(&engine);
    engine.load(QUrl(QStringLiteral("qrc:/main.qml")));
    if (engine.rootObjects().isEmpty()) {
        std::fprintf(stderr, "The main window could not be loaded; see the QML errors above.\n");
        return 1;
    }

    Bench bench(engine, service);
    bench.probe().settle(3);
    if (parser.isSet(shotsOption))
        return takeScreenshots(bench, service, parser.value(shotsOption));
    return timeBursts(bench, runs, rowCount);
}


