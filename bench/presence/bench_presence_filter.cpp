// Filter pass: setFilter(status, text) over 100,000 rows with a text that matches 1% of them,
// against two stock QSortFilterProxyModels testing the same four fields, one with a plain
// case-insensitive QString::contains and one with a case-insensitive regular expression, in
// the same run. The ratios say how many times faster the panel's filter is than the first.

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

// The usual way: a stock proxy whose row test reads each field through the model's roles
// and asks whether it holds the text, ignoring case.
class StockPresenceFilter : public QSortFilterProxyModel
{
public:
    void setFilter(const QString &presence, const QString &text)
    {
        m_presence = presence;
        prepare(text);
        beginResetModel();
        endResetModel();
    }

protected:
    virtual void prepare(const QString &text) = 0;
    virtual bool holdsText(const QString &field) const = 0;

    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override
    {
        const QModelIndex index = sourceModel()->index(sourceRow, 0, sourceParent);
        if (!m_presence.isEmpty() && index.data(ModelPresence::PresenceRole).toString() != m_presence)
            return false;
        for (int role : {ModelPresence::EmpIdRole, ModelPresence::LastNameRole,
                         ModelPresence::FirstNameRole, ModelPresence::DepartmentRole}) {
            if (holdsText(index.data(role).toString()))
                return true;
        }
        return false;
    }

private:
    QString m_presence;
};

class ContainsPresenceFilter : public StockPresenceFilter
{
protected:
    void prepare(const QString &text) override { m_text = text; }
    bool holdsText(const QString &field) const override
    {
        return field.contains(m_text, Qt::CaseInsensitive);
    }

private:
    QString m_text;
};

class RegexPresenceFilter : public StockPresenceFilter
{
protected:
    void prepare(const QString &text) override
    {
        m_expression = QRegularExpression(QRegularExpression::escape(text),
                                          QRegularExpression::CaseInsensitiveOption);
    }
    bool holdsText(const QString &field) const override
    {
        return m_expression.match(field).hasMatch();
    }

private:
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

    // The stock proxies over a model of their own holding the same rows.
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
    ContainsPresenceFilter contains;
    contains.setSourceModel(&stockSource);
    RegexPresenceFilter regex;
    regex.setSourceModel(&stockSource);

    QVector<double> cold, warm, containsTimes, regexTimes;
    int shown = -1;
    int containsShown = -1;
    int regexShown = -1;
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
        containsTimes << Bench::timeMs([&] {
            contains.setFilter(Status, SearchText);
            containsShown = contains.rowCount();
        });
        regexTimes << Bench::timeMs([&] {
            regex.setFilter(Status, SearchText);
            regexShown = regex.rowCount();
        });
    }
    if (shown != containsShown || shown != regexShown) {
        std::fprintf(stderr, "The filters disagree: %d rows against %d (contains) and %d (regex).\n",
                     shown, containsShown, regexShown);
        return 1;
    }

    const Bench::Stats containsStats = Bench::stats(containsTimes);
    const Bench::Stats regexStats = Bench::stats(regexTimes);
    const Bench::Stats coldStats = Bench::stats(cold);
    const Bench::Stats warmStats = Bench::stats(warm);
    std::printf("# %d rows, status '%s', text '%s': %d rows shown\n", RowCount, qPrintable(Status),
                qPrintable(SearchText), shown);
    std::printf("# ratio: the stock contains proxy's median over this figure's median\n");
    Bench::print(QStringLiteral("presence_filter_pass_first"), coldStats, QStringLiteral("ms"),
                 containsStats.median / coldStats.median, QStringLiteral("<=25ms,ratio>=1"));
    Bench::print(QStringLiteral("presence_filter_pass_again"), warmStats, QStringLiteral("ms"),
                 containsStats.median / warmStats.median, QStringLiteral("<=25ms,ratio>=1"));
    Bench::print(QStringLiteral("presence_filter_pass_stock_contains"), containsStats, QStringLiteral("ms"));
    Bench::print(QStringLiteral("presence_filter_pass_stock_regex"), regexStats, QStringLiteral("ms"),
                 containsStats.median / regexStats.median);
    return 0;
}
