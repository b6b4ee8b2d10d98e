// Pictures: requestImage for 1,000 different 160x160 JPEG pictures at 48x48, against
// QImage::fromData(...).scaled(...) on the same bytes, in the same run.

#include "benchsupport.h"
#include "empimageprovider.h"

#include <QGuiApplication>
#include <QImage>

#include <cstdio>

namespace {
constexpr int Runs = 7;
constexpr int PictureCount = 1000;
const QSize Requested(48, 48);
} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    EmpImageProvider provider;
    QStringList ids;
    QVector<QByteArray> pictures;
    for (int n = 0; n < PictureCount; ++n) {
        ids << QStringLiteral("E%1").arg(n);
        pictures << Bench::jpeg(160, 160, n);
        provider.insertPicture(ids.last(), pictures.last());
    }

    QVector<double> provided, direct;
    qint64 checksum = 0;
    // Alternate the two so both see the same machine load.
    for (int run = 0; run < Runs; ++run) {
        provided << Bench::timeMs([&] {
            for (const QString &id : ids) {
                QSize size;
                checksum += provider.requestImage(id, &size, Requested).width() + size.width();
            }
        });
        direct << Bench::timeMs([&] {
            for (const QByteArray &bytes : pictures)
                checksum += QImage::fromData(bytes)
                                .scaled(Requested, Qt::KeepAspectRatio, Qt::FastTransformation)
                                .width();
        });
    }
    const Bench::Stats ours = Bench::stats(provided);
    const Bench::Stats baseline = Bench::stats(direct);
    std::printf("# %d pictures of 160x160 at 48x48 (checksum %lld)\n", PictureCount,
                static_cast<long long>(checksum));
    Bench::print(QStringLiteral("presence_pictures_request"), ours, QStringLiteral("ms"),
                 ours.median / baseline.median, QStringLiteral("ratio<=1.25"));
    Bench::print(QStringLiteral("presence_pictures_fromdata_scaled"), baseline, QStringLiteral("ms"));
    return 0;
}
