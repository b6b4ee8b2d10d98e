// Filter pass: setFilter(status, text) over 100,000 rows with a text that matches 1% of them,
// against a stock QSortFilterProxyModel testing the same four fields with a case-insensitive
// regular expression, in the same run.

#include "benchsupport.h"
#include "empimage.h"
#include "empimageprovider.h"
#include "modelpresence.h"
#include "modelpresencefilter.h"
#include "modelpresencelist.h"
#include "processrefs.h"
#include "servicehandler.h"

#include <QGuiApplication>
#include <QRegularExpression>
#include <QSortFilterProxyModel>

#include <cstdio>

namespace {

constexpr int Runs = 7;
constexpr int RowCount = 100000;
const QString Status = QStringLiteral("Present");
// Part of one last name in a hundred (see Bench::row), typed in lower case.
const QString SearchText = QStringLiteral("dosav");

// The usual way: a stock proxy whose row test matches a case-insensitive expression
// against each field read through the model's roles.
class RegexPresenceFilter : public QSortFilterProxyModel
{
public:
    void setFilter(const QString &presence, const QString &text)
    {
        m_presence = presence;
        m_expression = QRegularExpression(QRegularExpression::escape(text),
                                          QRegularExpression::CaseInsensitiveOption);
        beginResetModel();
        endResetModel();
    }

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override
    {
        const QModelIndex index = sourceModel()->index(sourceRow, 0, sourceParent);
        if (!m_presence.isEmpty() && index.data(ModelPresence::PresenceRole).toString() != m_presence)
            return false;
        for (int role : {ModelPresence::EmpIdRole, ModelPresence::LastNameRole,
                         ModelPresence::FirstNameRole, ModelPresence::DepartmentRole}) {
            if (m_expression.match(index.data(role).toString()).hasMatch())
                return true;
        }
        return false;
    }

private:
    QString m_presence;
    QRegularExpression m_expression;
};

// The panel's chain with rows loaded through the real handler. The filter rejects every
// row while they arrive, so loading stays cheap and no search keys exist yet.
struct LoadedFilter
{
    explicit LoadedFilter(const QVector<ModelPresenceItem> &rows)
    {
        ProcessRefs::setServiceClient(&service);
        ProcessRefs::setImageProvider(&provider);
        ProcessRefs::setPictureStore(&store);
        handler = std::make_unique<ServiceHandler>();
        filter = std::make_unique<ModelPresenceFilter>();
        filter->setFilter(QStringLiteral("no such status"), QString());
        service.sendBurst(rows);
    }

    ScriptedPresenceService service;
    EmpImageProvider provider;
    EmpImage store;
    std::unique_ptr<ServiceHandler> handler;
    std::unique_ptr<ModelPresenceFilter> filter;
};

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    const QVector<ModelPresenceItem> rows = Bench::rows(RowCount, Bench::jpeg(64, 64, 1));

    // The stock proxy over a model of its own holding the same rows.
    ModelPresence stockSource;
    for (const ModelPresenceItem &r : rows) {
        ModelPresenceItem item;
        item.idEmp = r.idEmp;
        item.lastName = r.lastName;
        item.firstName = r.firstName;
        item.department = r.department;
        item.presence = r.presence;
        stockSource.list()->appendItem(item);
    }
    RegexPresenceFilter stock;
    stock.setSourceModel(&stockSource);

    QVector<double> cold, warm, baseline;
    int shown = -1;
    int stockShown = -1;
    for (int run = 0; run < Runs; ++run) {
        LoadedFilter loaded(rows);
        // First search after an answer: the fields are upper-cased on the way.
        cold << Bench::timeMs([&] {
            loaded.filter->setFilter(Status, SearchText);
            shown = loaded.filter->rowCount();
        });
        warm << Bench::timeMs([&] {
            loaded.filter->setFilter(Status, SearchText);
            shown = loaded.filter->rowCount();
        });
        baseline << Bench::timeMs([&] {
            stock.setFilter(Status, SearchText);
            stockShown = stock.rowCount();
        });
    }
    if (shown != stockShown) {
        std::fprintf(stderr, "The two filters disagree: %d rows against %d.\n", shown, stockShown);
        return 1;
    }

    const Bench::Stats stockStats = Bench::stats(baseline);
    const Bench::Stats coldStats = Bench::stats(cold);
    const Bench::Stats warmStats = Bench::stats(warm);
    std::printf("# %d rows, status '%s', text '%s': %d rows shown\n", RowCount, qPrintable(Status),
                qPrintable(SearchText), shown);
    Bench::print(QStringLiteral("presence_filter_pass_first"), coldStats, QStringLiteral("ms"),
                 stockStats.median / coldStats.median, QStringLiteral("<=25ms,ratio>=5"));
    Bench::print(QStringLiteral("presence_filter_pass_again"), warmStats, QStringLiteral("ms"),
                 stockStats.median / warmStats.median, QStringLiteral("<=25ms,ratio>=5"));
    Bench::print(QStringLiteral("presence_filter_pass_stock_regex"), stockStats, QStringLiteral("ms"));
    return 0;
}
