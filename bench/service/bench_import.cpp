// How fast `vorna-service import` loads a large organisation into a fresh SQLite database, and
// how much memory it takes:
// - by default 100,000 employees with a picture of about 5 KB each and 1,000,000 registrations
//   at scale 1 (the target is at most 2 minutes on a 2-core machine);
// - with --photos N, N employees with an office's real photos: distinct 900x1200 JPEGs of
//   100-250 kB (targets at 10,000: at most 90 s and 300 MB resident at the peak).
// The folder is generated once per size and kept under the build folder; every run imports it
// into a new database with the built executable, as an operator would: an SQLite file, or with
// --postgres a scratch database on that server. With --baseline-service the runs alternate
// with an older build's executable, so that both meet the same machine, and the ratio of the
// medians is printed.
//
//     bench_import [--scale 0.1] [--photos 10000] [--runs 3] [--postgres CONNINFO]
//                  [--baseline-service PATH]
//
// Prints `BENCH import_...` lines: rate, total time and peak resident memory, with the load.

#include "benchfigures.h"
#include "scratchpostgres.h"
#include "support/portraitphoto.h"

#include <QBuffer>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>

extern char **environ;

using Bench::loadAverage;
using Bench::writeFile;

namespace {

struct Size
{
    int employees = 0;
    int registrationsPerEmployee = 10;
    bool photos = false;
    qint64 registrations() const { return qint64(employees) * registrationsPerEmployee; }
};

// A JPEG of noise, about 5 KB: what a small passport photo weighs.
QByteArray basePicture()
{
    QImage image(72, 72, QImage::Format_RGB32);
    QRandomGenerator random(7);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgb(128 + int(random.bounded(40)), 100 + int(random.bounded(40)), 90 + (x + y) % 60));
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 80);
    return buffer.data();
}

// The base picture with a comment segment naming the employee, so that every picture differs
// (and has its own digest) without encoding 100,000 images.
QByteArray pictureOf(const QByteArray &base, const QByteArray &id)
{
    const QByteArray comment = "employee " + id;
    const int length = comment.size() + 2;
    QByteArray segment("\xFF\xFE", 2);
    segment += char(length >> 8);
    segment += char(length & 0xFF);
    segment += comment;
    return base.left(2) + segment + base.mid(2);
}

// Generates the folder unless a complete one is there already.
bool prepare(const QString &folder, const Size &size)
{
    if (size.photos) {
        if (!vorna::testing::isCompletePhotoFolder(folder))
            std::fprintf(stderr, "Generating %d employees with photos in %s ...\n", size.employees, qPrintable(folder));
        return vorna::testing::writePhotoFolder(folder, size.employees);
    }
    const QString done = QDir(folder).filePath(QStringLiteral(".complete"));
    if (QFile::exists(done))
        return true;
    std::fprintf(stderr, "Generating %d employees and %lld registrations in %s ...\n", size.employees,
                 size.registrations(), qPrintable(folder));
    QDir().mkpath(QDir(folder).filePath(QStringLiteral("pictures")));
    const QByteArray base = basePicture();
    QByteArray employees = "id,last_name,first_name,department,picture\n";
    QByteArray registrations = "employee,at,activity\n";
    const QDateTime start(QDate(2026, 11, 2), QTime(7, 0), Qt::UTC);
    for (int i = 0; i < size.employees; ++i) {
        const QByteArray id = "E" + QByteArray::number(i).rightJustified(6, '0');
        const QByteArray picture = "pictures/" + id.toLower() + ".jpg";
        if (!writeFile(QDir(folder).filePath(QString::fromLatin1(picture)), pictureOf(base, id)))
            return false;
        employees += id + ",Last" + QByteArray::number(i % 977) + ",First" + QByteArray::number(i % 313) + ",Department "
            + QByteArray::number(i % 50) + ',' + picture + '\n';
        for (int r = 0; r < size.registrationsPerEmployee; ++r) {
            const QDateTime at = start.addDays(r / 2).addSecs(r % 2 ? 9 * 3600 + i % 600 : i % 900);
            registrations += id + ',' + at.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toLatin1()
                + (r % 2 ? ",Departure\n" : ",Arrival\n");
        }
    }
    QByteArray departments = "name\n";
    for (int d = 0; d < 50; ++d)
        departments += "Department " + QByteArray::number(d) + '\n';
    return writeFile(QDir(folder).filePath(QStringLiteral("departments.csv")), departments)
        && writeFile(QDir(folder).filePath(QStringLiteral("statuses.csv")), "name,color,present\nIn,#00AA00,yes\nOut,#999999,no\n")
        && writeFile(QDir(folder).filePath(QStringLiteral("activities.csv")), "name,status\nArrival,In\nDeparture,Out\n")
        && writeFile(QDir(folder).filePath(QStringLiteral("employees.csv")), employees)
        && writeFile(QDir(folder).filePath(QStringLiteral("registrations.csv")), registrations)
        && writeFile(done, "");
}

// Runs `program` to its end; false when it failed. *peakMb gets its peak resident memory, from
// the kernel's own account of that one child.
bool service(const QString &program, const QStringList &arguments, double *peakMb = nullptr)
{
    QVector<QByteArray> words{program.toUtf8()};
    for (const QString &argument : arguments)
        words.append(argument.toUtf8());
    QVector<char *> argv;
    for (QByteArray &word : words)
        argv.append(word.data());
    argv.append(nullptr);
    pid_t child = 0;
    if (posix_spawn(&child, argv.first(), nullptr, nullptr, argv.data(), environ) != 0)
        return false;
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child)
        return false;
    if (peakMb)
        *peakMb = usage.ru_maxrss / 1024.0; // kilobytes on Linux
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The runs of one executable: wall seconds and peak resident megabytes.
struct Runs
{
    QVector<double> seconds;
    QVector<double> peaks;
};

// One import into a new, initialised database (an SQLite file in `dir`, or a scratch database
// on `postgres`); false when a step failed, with its message above.
bool importOnce(const QString &program, const QString &folder, const QString &postgres, Runs *runs)
{
    QTemporaryDir dir(QStringLiteral(BENCH_DATA_DIR "/run-XXXXXX"));
    QString database = dir.filePath(QStringLiteral("vorna.db"));
    ScratchPostgres scratch(postgres, QStringLiteral("vorna_bench_import"));
    if (!postgres.isEmpty()) {
        QString error;
        database = scratch.create(&error);
        if (database.isEmpty()) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return false;
        }
    }
    if (!service(program, {QStringLiteral("init"), QStringLiteral("--database"), database})) {
        std::fprintf(stderr, "init failed; its message is above.\n");
        return false;
    }
    QElapsedTimer timer;
    timer.start();
    double peakMb = 0;
    if (!service(program, {QStringLiteral("import"), QStringLiteral("--database"), database, folder}, &peakMb)) {
        std::fprintf(stderr, "import failed; its message is above.\n");
        return false;
    }
    runs->seconds.append(timer.nsecsElapsed() / 1e9);
    runs->peaks.append(peakMb);
    std::fprintf(stderr, "%s: %.1f s, peak %.0f MB resident\n", qPrintable(program), runs->seconds.last(), peakMb);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Import speed of vorna-service."));
    parser.addHelpOption();
    const QCommandLineOption scaleOption(QStringLiteral("scale"),
        QStringLiteral("Fraction of 100,000 employees and 1,000,000 registrations. Default: 1."), QStringLiteral("scale"),
        QStringLiteral("1"));
    const QCommandLineOption runsOption(QStringLiteral("runs"), QStringLiteral("Imports to time. Default: 3."),
                                        QStringLiteral("runs"), QStringLiteral("3"));
    const QCommandLineOption photosOption(QStringLiteral("photos"),
        QStringLiteral("Instead: this many employees with photo-sized pictures (10000 in the targets)."),
        QStringLiteral("employees"));
    const QCommandLineOption postgresOption(QStringLiteral("postgres"),
        QStringLiteral("Import into a scratch database on this PostgreSQL server (a libpq connection string whose user "
                       "may create databases) instead of SQLite."),
        QStringLiteral("conninfo"));
    const QCommandLineOption baselineOption(QStringLiteral("baseline-service"),
        QStringLiteral("Alternate each run with this vorna-service executable, an older build, and compare."),
        QStringLiteral("path"));
    parser.addOptions({scaleOption, runsOption, photosOption, postgresOption, baselineOption});
    parser.process(app);
    const double scale = parser.value(scaleOption).toDouble();
    const int runs = std::max(1, parser.value(runsOption).toInt());
    if (scale <= 0 || scale > 1) {
        std::fprintf(stderr, "--scale takes a number above 0 and at most 1.\n");
        return 2;
    }
    Size size;
    size.employees = std::max(1, int(100000 * scale));
    if (parser.isSet(photosOption)) {
        size.photos = true;
        size.employees = std::max(1, parser.value(photosOption).toInt());
        size.registrationsPerEmployee = vorna::testing::PhotoFolderRegistrationsPerEmployee;
    }
    const QString folder =
        QStringLiteral(BENCH_DATA_DIR "/%1-%2").arg(size.photos ? "photos" : "import").arg(size.employees);
    if (!prepare(folder, size)) {
        std::fprintf(stderr, "Could not write the benchmark's folder %s.\n", qPrintable(folder));
        return 1;
    }
    const QString postgres = parser.value(postgresOption);
    const QString baseline = parser.value(baselineOption);
    const qint64 rows = size.employees + size.registrations();
    const QString loadBefore = loadAverage();
    Runs current, older;
    for (int run = 0; run < runs; ++run) {
        if (!baseline.isEmpty() && !importOnce(baseline, folder, postgres, &older))
            return 1;
        if (!importOnce(QStringLiteral(VORNA_SERVICE_BINARY), folder, postgres, &current))
            return 1;
    }
    std::printf("# employees=%d registrations=%lld runs=%d engine=%s load=%s..%s\n", size.employees,
                size.registrations(), runs, postgres.isEmpty() ? "sqlite" : "postgresql", qPrintable(loadBefore),
                qPrintable(loadAverage()));
    const QString prefix = size.photos ? QStringLiteral("import_photos") : QStringLiteral("import");
    const Bench::Stats seconds = Bench::stats(current.seconds);
    const double ratio = baseline.isEmpty() ? -1 : seconds.median / Bench::stats(older.seconds).median;
    Bench::print(prefix + QStringLiteral("_peak_rss"), Bench::stats(current.peaks), QStringLiteral("MB"), -1,
                 QStringLiteral("<=300MB"));
    Bench::print(prefix + QStringLiteral("_total"), seconds, QStringLiteral("s"), ratio,
                 size.photos ? QStringLiteral("<=90s at 10000") : QStringLiteral("<=120s at scale 1"));
    if (!size.photos) {
        QVector<double> rates;
        for (double run : qAsConst(current.seconds))
            rates.append(rows / run);
        Bench::print(QStringLiteral("import_rows_per_s"), Bench::stats(rates), QString());
    }
    if (!baseline.isEmpty()) {
        Bench::print(QStringLiteral("import_baseline_total"), Bench::stats(older.seconds), QStringLiteral("s"));
        Bench::print(QStringLiteral("import_baseline_peak_rss"), Bench::stats(older.peaks), QStringLiteral("MB"));
    }
    return 0;
}
