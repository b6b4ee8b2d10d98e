// Pictures: requestImage for 1,000 different 160x160 JPEG pictures at 48x48, against two ways
// of doing it by hand on the same bytes, in the same run: QImage::fromData(...).scaled(...),
// which decodes the whole picture first, and QImageReader::setScaledSize, which decodes
// straight to the requested size. The ratios are ours over each baseline.

#include "benchsupport.h"
#include "empimageprovider.h"

#include <QBuffer>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>

#include <cstdio>

namespace {
constexpr int Runs = 7;
constexpr int PictureCount = 1000;
const QSize Requested(48, 48);

QImage decodeToSize(const QByteArray &bytes, const QSize &size)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setScaledSize(reader.size().scaled(size, Qt::KeepAspectRatio));
    return reader.read();
}
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

    QVector<double> provided, direct, scaledRead;
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
        scaledRead << Bench::timeMs([&] {
            for (const QByteArray &bytes : pictures)
                checksum += decodeToSize(bytes, Requested).width();
        });
    }
    const Bench::Stats ours = Bench::stats(provided);
    const Bench::Stats baseline = Bench::stats(direct);
    const Bench::Stats readerBaseline = Bench::stats(scaledRead);
    std::printf("# %d pictures of 160x160 at 48x48 (checksum %lld)\n", PictureCount,
                static_cast<long long>(checksum));
    std::printf("# ratio: our median over the baseline's median (below 1: ours is faster)\n");
    Bench::print(QStringLiteral("presence_pictures_request_vs_fromdata_scaled"), ours, QStringLiteral("ms"),
                 ours.median / baseline.median, QStringLiteral("ratio<=1.25"));
    Bench::print(QStringLiteral("presence_pictures_request_vs_reader_scaledsize"), ours, QStringLiteral("ms"),
                 ours.median / readerBaseline.median, QStringLiteral("ratio<=1.25"));
    Bench::print(QStringLiteral("presence_pictures_fromdata_scaled"), baseline, QStringLiteral("ms"));
    Bench::print(QStringLiteral("presence_pictures_reader_scaledsize"), readerBaseline, QStringLiteral("ms"));
    return 0;
}
