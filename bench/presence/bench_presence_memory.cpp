// Memory: 100,000 records with 4 KB pictures held in the presence list, the filter's search
// index and the picture store. Resident growth against the raw bytes held (pictures plus texts). Each run is a
// child process of its own, so one run's freed memory cannot flatter the next.

#include "benchsupport.h"
#include "empimage.h"
#include "empimageprovider.h"
#include "modelpresence.h"
#include "modelpresencefilter.h"
#include "modelpresencelist.h"
#include "processrefs.h"
#include "servicehandler.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QProcess>

#include <cstdio>

namespace {

constexpr int Runs = 5;
constexpr int RowCount = 100000;
constexpr int PictureBytes = 4096;
const char *const ChildFlag = "--child";

// Distinct bytes per employee, as real photographs would be.
QByteArray pictureBytes(int n)
{
    QByteArray bytes(PictureBytes, Qt::Uninitialized);
    for (int i = 0; i < PictureBytes; ++i)
        bytes[i] = char((i * 31 + n) & 0xff);
    return bytes;
}

qint64 rawBytes(const ModelPresenceItem &item)
{
    const qint64 texts = item.idEmp.size() + item.lastName.size() + item.firstName.size()
                         + item.lastActDT2.size() + item.lastActDesc.size() + item.department.size()
                         + item.presence.size();
    // Texts are UTF-16; the date-time, flag and colour as their plain values.
    return item.picture.size() + 2 * texts + 8 + 1 + 4;
}

// Prints "<growth bytes> <raw bytes>".
int runChild(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    ScriptedPresenceService service;
    EmpImageProvider provider;
    EmpImage store;
    ProcessRefs::setServiceClient(&service);
    ProcessRefs::setImageProvider(&provider);
    ProcessRefs::setPictureStore(&store);
    ServiceHandler handler;
    // The screen's model and its search index. It shows no row while the answer arrives, so
    // the proxy's per-row mapping work (timed elsewhere) does not slow the run down.
    ModelPresenceFilter filter;
    filter.setFilter(QStringLiteral("no such status"), QString());
    const ModelPresence &model = *filter.presenceModel();
    // One row first, so one-time allocations are not counted as growth.
    service.sendBurst({Bench::row(0)});

    const qint64 before = Bench::residentBytes();
    emit service.dbPresenceResponseBegin();
    for (int n = 0; n < RowCount; ++n) {
        ModelPresenceItem r = Bench::row(n);
        r.picture = pictureBytes(n);
        service.sendRow(r);
    }
    emit service.dbPresenceResponseEnd();
    const qint64 after = Bench::residentBytes();

    qint64 raw = 0;
    for (const ModelPresenceItem &item : model.list()->items())
        raw += rawBytes(item);
    if (provider.pictureCount() != RowCount || model.rowCount() != RowCount) {
        std::fprintf(stderr, "Expected %d records and pictures, held %d and %d.\n", RowCount,
                     model.rowCount(), provider.pictureCount());
        return 1;
    }
    std::printf("%lld %lld\n", static_cast<long long>(after - before), static_cast<long long>(raw));
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc > 1 && qstrcmp(argv[1], ChildFlag) == 0)
        return runChild(argc, argv);

    QCoreApplication app(argc, argv);
    QVector<double> ratios, growths;
    qint64 raw = 0;
    for (int run = 0; run < Runs; ++run) {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(ChildFlag)});
        if (!child.waitForFinished(300000) || child.exitCode() != 0) {
            std::fprintf(stderr, "Memory run %d failed: %s\n", run,
                         child.readAllStandardError().constData());
            return 1;
        }
        const QList<QByteArray> figures = child.readAllStandardOutput().trimmed().split(' ');
        const qint64 growth = figures.value(0).toLongLong();
        raw = figures.value(1).toLongLong();
        growths << growth / 1048576.0;
        ratios << double(growth) / raw;
    }
    std::printf("# %d records with %d-byte pictures: %.1f MB raw\n", RowCount, PictureBytes, raw / 1048576.0);
    const Bench::Stats ratio = Bench::stats(ratios);
    Bench::print(QStringLiteral("presence_memory_growth"), Bench::stats(growths), QStringLiteral("MB"),
                 ratio.median, QStringLiteral("ratio<=1.3"));
    Bench::print(QStringLiteral("presence_memory_ratio"), ratio, QString(), -1, QStringLiteral("<=1.3"));
    return 0;
}
