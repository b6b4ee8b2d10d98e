// Presence burst ingestion: Begin, N rows, End through the real service handler, list, model,
// filter and picture store, layer by layer, so each layer's share shows.

#include "benchsupport.h"
#include "empimage.h"
#include "empimageprovider.h"
#include "modelpresence.h"
#include "modelpresencefilter.h"
#include "modelpresencelist.h"
#include "processrefs.h"
#include "servicehandler.h"

#include <QCommandLineParser>
#include <QGuiApplication>
#include <QSortFilterProxyModel>

#include <cstdio>
#include <memory>

namespace {

constexpr int Runs = 5;

// How far down the chain a burst goes.
// StockProxy is the model under a plain QSortFilterProxyModel: Qt's own cost of a proxy.
enum class Layers { Handler, List, Model, StockProxy, Filter, View };

const char *layerName(Layers layers)
{
    switch (layers) {
    case Layers::Handler: return "handler";
    case Layers::List: return "list";
    case Layers::Model: return "model";
    case Layers::StockProxy: return "stockproxy";
    case Layers::Filter: return "filter";
    case Layers::View: return "view";
    }
    return "";
}

// Reads a few roles of every new row, as a list view's delegates would.
void listenLikeAView(ModelPresenceFilter *filter)
{
    QObject::connect(filter, &QAbstractItemModel::rowsInserted, filter,
                     [filter](const QModelIndex &, int first, int last) {
                         for (int r = first; r <= last; ++r) {
                             const QModelIndex index = filter->index(r, 0);
                             index.data(ModelPresence::EmpIdRole).toString();
                             index.data(ModelPresence::LastNameRole).toString();
                             index.data(ModelPresence::FirstNameRole).toString();
                             index.data(ModelPresence::LastActDT2Role).toString();
                             index.data(ModelPresence::PresenceRole).toString();
                             index.data(ModelPresence::ColorRole).toInt();
                         }
                     });
}

// One timed burst into freshly built layers; the picture store is always there except
// for the handler-only measurement.
double burstMs(Layers layers, const QVector<ModelPresenceItem> &rows)
{
    ScriptedPresenceService service;
    ProcessRefs::setServiceClient(&service);
    EmpImageProvider provider;
    ProcessRefs::setImageProvider(&provider);
    EmpImage store;
    ProcessRefs::setPictureStore(layers == Layers::Handler ? nullptr : &store);
    ServiceHandler handler;

    std::unique_ptr<ModelPresenceList> bareList;
    std::unique_ptr<ModelPresence> bareModel;
    std::unique_ptr<QSortFilterProxyModel> stockProxy;
    std::unique_ptr<ModelPresenceFilter> filter;
    switch (layers) {
    case Layers::Handler:
        ProcessRefs::setCurrentPresenceList(nullptr);
        break;
    case Layers::List:
        bareList = std::make_unique<ModelPresenceList>();
        ProcessRefs::setCurrentPresenceList(bareList.get());
        break;
    case Layers::Model:
        bareModel = std::make_unique<ModelPresence>();
        break;
    case Layers::StockProxy:
        bareModel = std::make_unique<ModelPresence>();
        stockProxy = std::make_unique<QSortFilterProxyModel>();
        stockProxy->setSourceModel(bareModel.get());
        break;
    case Layers::Filter:
    case Layers::View:
        filter = std::make_unique<ModelPresenceFilter>();
        if (layers == Layers::View)
            listenLikeAView(filter.get());
        break;
    }
    return Bench::timeMs([&] { service.sendBurst(rows); });
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Times presence bursts through each layer."));
    parser.addHelpOption();
    const QCommandLineOption rowsOption(QStringLiteral("rows"),
                                        QStringLiteral("Time only bursts of <count> rows."),
                                        QStringLiteral("count"));
    parser.addOption(rowsOption);
    parser.process(app);
    QList<int> counts{10000, 25000, 50000, 100000};
    if (parser.isSet(rowsOption))
        counts = {parser.value(rowsOption).toInt()};

    const QByteArray picture = Bench::jpeg(160, 160, 1);
    const QList<Layers> allLayers{Layers::Handler, Layers::List, Layers::Model, Layers::StockProxy,
                                  Layers::Filter, Layers::View};
    QMap<int, double> viewMedians;

    for (int count : counts) {
        const QVector<ModelPresenceItem> rows = Bench::rows(count, picture);
        QMap<Layers, double> medians;
        for (Layers layers : allLayers) {
            QVector<double> samples;
            for (int run = 0; run < Runs; ++run)
                samples << burstMs(layers, rows);
            const Bench::Stats s = Bench::stats(samples);
            medians[layers] = s.median;
            const bool targeted = count == 10000 && layers == Layers::View;
            Bench::print(QStringLiteral("presence_burst_%1_%2").arg(count).arg(layerName(layers)), s,
                         QStringLiteral("ms"), -1, targeted ? QStringLiteral("<=80ms") : QString());
        }
        viewMedians[count] = medians[Layers::View];
        const double total = medians[Layers::View];
        std::printf("# %d rows, share of the full burst: handler+emission %.0f%%, list+pictures %.0f%%, "
                    "model %.0f%%, Qt's proxy mapping %.0f%%, our filter above a stock proxy %.0f%%, "
                    "view reads %.0f%%\n",
                    count, 100 * medians[Layers::Handler] / total,
                    100 * (medians[Layers::List] - medians[Layers::Handler]) / total,
                    100 * (medians[Layers::Model] - medians[Layers::List]) / total,
                    100 * (medians[Layers::StockProxy] - medians[Layers::Model]) / total,
                    100 * (medians[Layers::Filter] - medians[Layers::StockProxy]) / total,
                    100 * (medians[Layers::View] - medians[Layers::Filter]) / total);
        std::fflush(stdout);
    }
    for (int count : counts) {
        if (count == 10000 || !viewMedians.contains(10000))
            continue;
        const double factor = double(count) / 10000;
        std::printf("# growth: %d rows cost %.1fx the 10000-row burst (linear would be %.1fx, "
                    "quadratic %.1fx)\n",
                    count, viewMedians[count] / viewMedians[10000], factor, factor * factor);
    }
    return 0;
}
