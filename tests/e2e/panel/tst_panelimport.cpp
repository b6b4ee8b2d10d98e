// The walk a new operator takes with a real organisation, with the real panel: init, import
// the example folder, add a user who sees one department, serve, log in. The list holds
// exactly that department's people, with the display renditions of their pictures.

#include "paneldriver.h"
#include "panelsteps.h"
#include "support/servicerunner.h"
#include "transfer/rendition.h"

#include <QAbstractItemModel>
#include <QFile>
#include <QGuiApplication>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using vorna::testing::ServiceRunner;

namespace {

const QString Example = QStringLiteral(VORNA_SOURCE_DIR "/docs/example-organisation");
constexpr int ServiceTimeoutMs = 120000;

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class PanelImportTest : public QObject
{
    Q_OBJECT

private slots:
    void importedDepartmentIsWhatItsUserSees()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString database = dir.filePath(QStringLiteral("org.db"));
        ServiceRunner service(database);
        QVERIFY2(service.commandOk({"init"}), qPrintable(service.error()));
        QVERIFY2(service.commandOk({"import", Example}), qPrintable(service.error()));
        QVERIFY2(service.commandOk({"user", "add", "ana", "--department", "Development", "--password-stdin"},
                                   "a-long-password\n"),
                 qPrintable(service.error()));
        QVERIFY2(service.start({}, ServiceTimeoutMs), qPrintable(service.error()));

        PanelDriver driver;
        PanelSteps steps(driver);
        QVERIFY2(driver.start({{QStringLiteral("sLang"), 0}}), qPrintable(driver.lastError()));
        QVERIFY2(steps.logIn({QStringLiteral("127.0.0.1"), QString::number(service.port()), QStringLiteral("ana"),
                              QStringLiteral("a-long-password")}),
                 qPrintable(driver.lastError()));

        const auto *model = qobject_cast<const QAbstractItemModel *>(
            driver.evaluateInPage(QStringLiteral("listView.model")).value<QObject *>());
        QVERIFY(model);
        const QHash<int, QByteArray> roles = model->roleNames();
        QMap<QString, QByteArray> shown;
        for (int row = 0; row < model->rowCount(); ++row) {
            const QModelIndex index = model->index(row, 0);
            QCOMPARE(model->data(index, roles.key("modelDepartment")).toString(), QStringLiteral("Development"));
            shown.insert(model->data(index, roles.key("modelEmpId")).toString(),
                         model->data(index, roles.key("modelPicture")).toByteArray());
        }
        const QByteArray original = readFile(Example + QStringLiteral("/pictures/e003.jpg"));
        const QByteArray rendition = vorna::transfer::makeRendition(original, QStringLiteral("e003.jpg")).bytes;
        const QMap<QString, QByteArray> expected{
            {"E003", rendition}, {"E005", {}}, {"E006", {}}, {"E010", {}}, {"E011", {}}, {"E014", {}}, {"E017", {}},
            {"E020", {}}};
        QCOMPARE(shown, expected);
        // The panel is sent the rendition, not the file.
        QVERIFY(!rendition.isEmpty() && rendition != original);
        service.terminate();
    }
};

int main(int argc, char *argv[])
{
    QTemporaryDir panelHome;
    PanelDriver::prepareProcess(panelHome.path());
    QGuiApplication app(argc, argv);
    PanelImportTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_panelimport.moc"
