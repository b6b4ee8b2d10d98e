// Pictures in the storage: presence answers send the display rendition under its digest while
// the original stays; whether a picture changed is told by its original; the originals read
// back page by page for exports; pictures are stored once per original and go when nobody
// refers to them; staged pictures wait unseen, and those a stopped import left are removed by
// age; the migration that brought renditions makes them for the pictures stored before it,
// and the one that keyed pictures by their originals moves them.

#include "support/picturebytes.h"
#include "support/storagefixture.h"

#include <QCryptographicHash>
#include <QImage>

using namespace vorna::service;
using vorna::testing::encodedPicture;
using vorna::testing::pictureFormatOf;

namespace {

QByteArray sha256(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
}

vorna::transfer::CheckedPicture checked(const QByteArray &original, const QByteArray &rendition = {})
{
    return vorna::transfer::checkedPicture(original, rendition);
}

} // namespace

class TestStoragePictures : public StorageTestCase
{
    Q_OBJECT

private slots:
    void presenceSendsTheRenditionAndKeepsTheOriginal_data();
    void presenceSendsTheRenditionAndKeepsTheOriginal();
    void theOriginalTellsWhetherAPictureChanged();
    void originalsAreReadInIdOrderPageByPage();
    void aPictureGoesWithItsLastReference();
    void stagedPicturesWaitUnseenUntilAbandoned();
    void aPictureGoneBeforeItIsReferredToIsRefused();
    void migrationMakesRenditionsOfStoredPictures();
    void migrationKeysPicturesByTheirOriginals();

private:
    // Back to the schema of migration 12: a picture row per employee.
    void revertToPicturesPerEmployee();
    int storedPictures();
    void seed() override;
    Result<Upsert> upsert(const Employee &employee);
    PresenceRow presenceOf(const QString &employeeId);

    Department m_sales{0, QStringLiteral("Sales")};
    Department m_stores{0, QStringLiteral("Stores")};
};

void TestStoragePictures::seed()
{
    STORAGE_OK(m_fixture.storage().organisation().addDepartment(m_sales));
    STORAGE_OK(m_fixture.storage().organisation().addDepartment(m_stores));
}

Result<Upsert> TestStoragePictures::upsert(const Employee &employee)
{
    Result<Upsert> outcome = Upsert::Unchanged;
    const StorageError error = m_fixture.storage().write(QStringLiteral("upsert"), [&](Transaction &tx) {
        outcome = m_fixture.storage().organisation().upsertEmployee(tx, employee);
        return outcome.error();
    });
    return error.ok() ? outcome : Result<Upsert>(error);
}

PresenceRow TestStoragePictures::presenceOf(const QString &employeeId)
{
    PresenceRow found;
    const StorageError error = m_fixture.storage().presence().presence(
        managerOfAll(), {civilTime(QStringLiteral("2026-11-12T10:00:00")), 1, {}}, [&](const PresenceRow &row) {
            if (row.employeeId == employeeId)
                found = row;
        });
    if (!error.ok())
        qWarning("%s", qPrintable(error.message));
    return found;
}

void TestStoragePictures::presenceSendsTheRenditionAndKeepsTheOriginal_data()
{
    QTest::addColumn<bool>("bulk");
    QTest::addColumn<QByteArray>("rendition");
    // The storage keeps bytes as they are; making renditions is its callers' work.
    QTest::newRow("one by one") << false << QByteArray("rendition of E1");
    QTest::newRow("in bulk") << true << QByteArray("rendition of E1");
    QTest::newRow("display-sized already, without a rendition") << true << QByteArray();
    QTest::newRow("one by one, without a rendition") << false << QByteArray();
}

void TestStoragePictures::presenceSendsTheRenditionAndKeepsTheOriginal()
{
    QFETCH(bool, bulk);
    QFETCH(QByteArray, rendition);
    // Every byte value, NUL among them: PostgreSQL gets pictures in binary, past Qt's driver.
    QByteArray original("original of E1, a few hundred kB in an office:");
    for (int byte = 0; byte < 256; ++byte)
        original += char(byte);
    const QByteArray shown = rendition.isEmpty() ? original : rendition;
    Employee ana{QStringLiteral("E1"), QStringLiteral("Ilić"), QStringLiteral("Ana"), m_sales.id, original, {}, {}, rendition};
    if (bulk)
        STORAGE_OK(m_fixture.storage().organisation().addEmployees({ana}));
    else
        QCOMPARE(upsert(ana).value(), Upsert::Added);

    const PresenceRow row = presenceOf(QStringLiteral("E1"));
    QCOMPARE(row.picture, shown);
    QCOMPARE(row.pictureDigest, sha256(shown));
    const Result<Employee> stored = m_fixture.storage().organisation().findEmployee(QStringLiteral("E1"));
    STORAGE_OK(stored);
    QCOMPARE(stored->picture, original);
    QCOMPARE(stored->rendition, shown);
    QCOMPARE(stored->pictureDigest, sha256(shown));
    QCOMPARE(m_fixture.storage().organisation().employees().value().first().pictureDigest, sha256(shown));
}

void TestStoragePictures::theOriginalTellsWhetherAPictureChanged()
{
    const QByteArray original("original");
    Employee ana{QStringLiteral("E1"), QStringLiteral("Ilić"), QStringLiteral("Ana"), m_sales.id, original, {}, {},
                 QByteArray("first rendition")};
    QCOMPARE(upsert(ana).value(), Upsert::Added);

    // The same original again, its rendition made anew (another build may encode it apart).
    ana.rendition = QByteArray("rendition made again");
    QCOMPARE(upsert(ana).value(), Upsert::Unchanged);
    QCOMPARE(presenceOf(QStringLiteral("E1")).picture, QByteArray("first rendition"));

    // A change of name alone, the picture as read back without its rendition, as an edit
    // that loads the employee and stores it again could pass it: the rendition stays.
    ana.firstName = QStringLiteral("Ana Marija");
    ana.rendition.clear();
    QCOMPARE(upsert(ana).value(), Upsert::Changed);
    PresenceRow row = presenceOf(QStringLiteral("E1"));
    QCOMPARE(row.firstName, QStringLiteral("Ana Marija"));
    QCOMPARE(row.picture, QByteArray("first rendition"));
    QCOMPARE(row.pictureDigest, sha256("first rendition"));

    ana.picture = QByteArray("a new original");
    ana.rendition = QByteArray("its rendition");
    QCOMPARE(upsert(ana).value(), Upsert::Changed);
    row = presenceOf(QStringLiteral("E1"));
    QCOMPARE(row.picture, QByteArray("its rendition"));
    QCOMPARE(row.pictureDigest, sha256("its rendition"));
    QCOMPARE(m_fixture.storage().organisation().findEmployee(QStringLiteral("E1"))->picture, QByteArray("a new original"));

    ana.picture.clear();
    ana.rendition.clear();
    QCOMPARE(upsert(ana).value(), Upsert::Changed);
    row = presenceOf(QStringLiteral("E1"));
    QVERIFY(row.picture.isEmpty());
    QVERIFY(row.pictureDigest.isEmpty());
    QCOMPARE(storedPictures(), 0);
    QCOMPARE(upsert(ana).value(), Upsert::Unchanged);
}

void TestStoragePictures::originalsAreReadInIdOrderPageByPage()
{
    // More than a page of pictures in two departments, added out of order, some people without.
    QVector<Employee> staff;
    QStringList everyone;
    QStringList sales;
    for (int i = 70; i >= 1; --i) {
        const QString id = QStringLiteral("E%1").arg(i, 3, 10, QLatin1Char('0'));
        const QByteArray original = i % 7 == 0 ? QByteArray() : QByteArray("picture of ") + id.toLatin1();
        staff.append({id, QStringLiteral("Name"), id, i % 2 ? m_stores.id : m_sales.id, original, {}, {}, "small"});
        if (original.isEmpty())
            continue;
        everyone.prepend(id);
        if (i % 2 == 0)
            sales.prepend(id);
    }
    OrganisationStore &o = m_fixture.storage().organisation();
    STORAGE_OK(o.addEmployees(staff));
    for (const auto &[department, expected] : {std::pair{qint64(0), everyone}, std::pair{m_sales.id, sales}}) {
        QStringList read;
        STORAGE_OK(o.pictureOriginals(department, [&](const StoredPicture &picture) {
            read << picture.employeeId;
            return picture.bytes == QByteArray("picture of ") + picture.employeeId.toLatin1();
        }));
        QCOMPARE(read, expected);
        QStringList heads;
        for (const StoredPicture &head : o.pictureHeads(department, 7).value()) {
            heads << head.employeeId;
            QCOMPARE(head.bytes, QByteArray("picture"));
        }
        QCOMPARE(heads, expected);
    }
    int handed = 0;
    STORAGE_OK(o.pictureOriginals(0, [&](const StoredPicture &) { return ++handed < 3; }));
    QCOMPARE(handed, 3);
}

void TestStoragePictures::migrationMakesRenditionsOfStoredPictures()
{
    QImage photoImage(900, 1200, QImage::Format_RGB32);
    photoImage.fill(QColor(200, 120, 40));
    const QByteArray photo = encodedPicture(photoImage, "jpeg");
    QImage badge(300, 300, QImage::Format_ARGB32);
    badge.fill(Qt::transparent);
    const QByteArray clearBadge = encodedPicture(badge, "png");
    const QByteArray damaged("stored before pictures were checked");
    // Stored as before renditions: the original alone, its digest the picture digest.
    STORAGE_OK(m_fixture.storage().organisation().addEmployees({
        {QStringLiteral("P"), QStringLiteral("Perić"), QStringLiteral("Pera"), m_sales.id, photo, {}, {}},
        {QStringLiteral("B"), QStringLiteral("Babić"), QStringLiteral("Bane"), m_sales.id, clearBadge, {}, {}},
        {QStringLiteral("D"), QStringLiteral("Dukić"), QStringLiteral("Duka"), m_sales.id, damaged, {}, {}},
        {QStringLiteral("N"), QStringLiteral("Nikolić"), QStringLiteral("Nina"), m_sales.id, {}, {}, {}},
    }));
    revertToPicturesPerEmployee();
    QString problem;
    for (const char *sql : {"ALTER TABLE employee_pictures DROP COLUMN rendition",
                            "ALTER TABLE employee_pictures DROP COLUMN original_digest",
                            "DELETE FROM schema_migrations WHERE version = 12"})
        QVERIFY2(m_fixture.execRaw(QString::fromLatin1(sql), &problem), qPrintable(problem));
    STORAGE_OK(m_fixture.reopen());
    QCOMPARE(m_fixture.storage().schemaVersion().value(), 11);

    QVector<QPair<qint64, qint64>> steps;
    STORAGE_OK(m_fixture.storage().migrate([&](const QString &phase, qint64 done, qint64 total) {
        if (phase == QLatin1String("Making picture renditions"))
            steps.append({done, total});
    }));
    QCOMPARE(m_fixture.storage().schemaVersion().value(), 13);
    QCOMPARE(steps.first(), qMakePair(qint64(0), qint64(3)));
    QCOMPARE(steps.last(), qMakePair(qint64(3), qint64(3)));

    const PresenceRow pera = presenceOf(QStringLiteral("P"));
    QCOMPARE(pictureFormatOf(pera.picture), QByteArray("jpeg"));
    QCOMPARE(QImage::fromData(pera.picture).size(), QSize(192, 256));
    QCOMPARE(pera.pictureDigest, sha256(pera.picture));
    QCOMPARE(m_fixture.storage().organisation().findEmployee(QStringLiteral("P"))->picture, photo);
    const PresenceRow bane = presenceOf(QStringLiteral("B"));
    QCOMPARE(pictureFormatOf(bane.picture), QByteArray("png"));
    QCOMPARE(bane.pictureDigest, sha256(bane.picture));
    // What cannot be decoded is sent as it was.
    const PresenceRow duka = presenceOf(QStringLiteral("D"));
    QCOMPARE(duka.picture, damaged);
    QCOMPARE(duka.pictureDigest, sha256(damaged));
    QVERIFY(presenceOf(QStringLiteral("N")).pictureDigest.isEmpty());

    // The original's digest came too: the same picture imported again changes nothing.
    Employee again{QStringLiteral("P"), QStringLiteral("Perić"), QStringLiteral("Pera"), m_sales.id, photo, {}, {},
                   QByteArray("a rendition made again")};
    QCOMPARE(upsert(again).value(), Upsert::Unchanged);
    QCOMPARE(presenceOf(QStringLiteral("P")).picture, pera.picture);
}

void TestStoragePictures::revertToPicturesPerEmployee()
{
    const QString bytes = m_fixture.isPostgres() ? QStringLiteral("BYTEA") : QStringLiteral("BLOB");
    QString problem;
    for (const QString &sql :
         {QStringLiteral("CREATE TABLE employee_pictures (employee_id BIGINT PRIMARY KEY REFERENCES employees (id)"
                         " ON DELETE CASCADE, bytes %1 NOT NULL, rendition %1, original_digest %1)").arg(bytes),
          QStringLiteral("INSERT INTO employee_pictures (employee_id, bytes, rendition, original_digest)"
                         " SELECT e.id, p.original, p.rendition, p.original_digest FROM employees e"
                         " JOIN pictures p ON p.original_digest = e.original_digest"),
          QStringLiteral("DROP INDEX employees_original_digest"),
          QStringLiteral("ALTER TABLE employees DROP COLUMN original_digest"), QStringLiteral("DROP TABLE pictures"),
          QStringLiteral("DELETE FROM schema_migrations WHERE version = 13")})
        QVERIFY2(m_fixture.execRaw(sql, &problem), qPrintable(problem));
}

int TestStoragePictures::storedPictures()
{
    return m_fixture.scalarRaw(QStringLiteral("SELECT COUNT(*) FROM pictures")).toInt();
}

void TestStoragePictures::aPictureGoesWithItsLastReference()
{
    const auto person = [&](const char *id, const QByteArray &picture) {
        return Employee{QString::fromLatin1(id), QStringLiteral("Name"), QStringLiteral("First"), m_sales.id, picture,
                        {}, {}, QByteArray("rendition of ") + picture};
    };
    OrganisationStore &o = m_fixture.storage().organisation();
    STORAGE_OK(o.addEmployees({person("E1", "shared"), person("E2", "shared")}));
    QCOMPARE(upsert(person("E3", "own")).value(), Upsert::Added);
    QCOMPARE(upsert(person("E4", "shared")).value(), Upsert::Added);
    QCOMPARE(storedPictures(), 2); // identical photos are stored once

    QCOMPARE(upsert(person("E3", "new own")).value(), Upsert::Changed);
    QCOMPARE(storedPictures(), 2); // "own" went with its only reference
    QCOMPARE(upsert(person("E1", QByteArray())).value(), Upsert::Changed);
    STORAGE_OK(o.removeEmployee(QStringLiteral("E2")));
    QCOMPARE(storedPictures(), 2); // E4 still shows "shared"
    QCOMPARE(presenceOf(QStringLiteral("E4")).picture, QByteArray("rendition of shared"));
    STORAGE_OK(o.removeEmployee(QStringLiteral("E4")));
    STORAGE_OK(o.removeEmployee(QStringLiteral("E3")));
    QCOMPARE(storedPictures(), 0);
}

void TestStoragePictures::stagedPicturesWaitUnseenUntilAbandoned()
{
    OrganisationStore &o = m_fixture.storage().organisation();
    const QByteArray used("used by E1");
    QCOMPARE(upsert({QStringLiteral("E1"), QStringLiteral("Ilić"), QStringLiteral("Ana"), m_sales.id, used, {}, {}})
                 .value(),
             Upsert::Added);
    const Result<QVector<QByteArray>> staged = o.stagePictures({checked("left behind", "small"), checked("left too"), checked(used)});
    STORAGE_OK(staged);
    // E1's was stored already, and a picture is stored once.
    QCOMPARE(staged.value(), (QVector<QByteArray>{sha256("left behind"), sha256("left too")}));
    QCOMPARE(o.stagePictures({checked("left behind", "made again")}).value(), QVector<QByteArray>());
    QCOMPARE(o.storedPictureDigests().value(), (QSet<QByteArray>{sha256(used), sha256("left behind"), sha256("left too")}));
    QCOMPARE(presenceOf(QStringLiteral("E1")).picture, used);

    QString problem;
    QVERIFY2(m_fixture.passTime(std::chrono::hours(25), &problem), qPrintable(problem));
    // An import running now: its new picture, and a left one it found stored, are its own.
    STORAGE_OK(o.stagePictures({checked("a running import's"), checked("left too")}));
    QCOMPARE(o.removeAbandonedPictures(std::chrono::hours(24)).value(), 1);
    QCOMPARE(o.storedPictureDigests().value(),
             (QSet<QByteArray>{sha256(used), sha256("a running import's"), sha256("left too")}));
    QCOMPARE(presenceOf(QStringLiteral("E1")).picture, used);
}

void TestStoragePictures::aPictureGoneBeforeItIsReferredToIsRefused()
{
    OrganisationStore &o = m_fixture.storage().organisation();
    const QVector<QByteArray> staged = o.stagePictures({checked("staged", "its rendition")}).value();
    QCOMPARE(staged.size(), 1);
    Employee ana{QStringLiteral("E1"), QStringLiteral("Ilić"), QStringLiteral("Ana"), m_sales.id, {}, {}, {}};
    ana.originalDigest = staged.first();
    QCOMPARE(upsert(ana).value(), Upsert::Added);
    QCOMPARE(presenceOf(QStringLiteral("E1")).picture, QByteArray("its rendition"));
    STORAGE_OK(o.removeUnreferencedPictures(staged)); // referred to: stays
    QCOMPARE(storedPictures(), 1);

    // Someone else's cleanup takes a staged picture before the import refers to it.
    Employee ivo{QStringLiteral("E2"), QStringLiteral("Ivić"), QStringLiteral("Ivo"), m_sales.id, {}, {}, {}};
    ivo.originalDigest = o.stagePictures({checked("staged too")}).value().value(0);
    STORAGE_OK(o.removeUnreferencedPictures({ivo.originalDigest}));
    const Result<Upsert> refused = upsert(ivo);
    QCOMPARE(refused.error().code, StorageError::NotFound);
    QVERIFY2(refused.error().message.contains(QLatin1String("The picture of the employee 'E2' is no longer stored"))
                 && refused.error().message.contains(QLatin1String("Run the import again.")),
             qPrintable(refused.error().message));
    QCOMPARE(o.findEmployee(QStringLiteral("E2")).error().code, StorageError::NotFound);
}

// Two employees with one photo share its row; presence sends the same digests and pictures.
void TestStoragePictures::migrationKeysPicturesByTheirOriginals()
{
    OrganisationStore &o = m_fixture.storage().organisation();
    STORAGE_OK(o.addEmployees({
        {QStringLiteral("P"), QStringLiteral("Perić"), QStringLiteral("Pera"), m_sales.id, "photo", {}, {}, "small photo"},
        {QStringLiteral("Q"), QStringLiteral("Perić"), QStringLiteral("Pava"), m_stores.id, "photo", {}, {}, "small photo"},
        {QStringLiteral("B"), QStringLiteral("Babić"), QStringLiteral("Bane"), m_sales.id, "badge", {}, {}, "small badge"},
        {QStringLiteral("N"), QStringLiteral("Nikolić"), QStringLiteral("Nina"), m_sales.id, {}, {}, {}},
    }));
    revertToPicturesPerEmployee();
    STORAGE_OK(m_fixture.reopen());
    QCOMPARE(m_fixture.storage().schemaVersion().value(), 12);
    QCOMPARE(m_fixture.scalarRaw(QStringLiteral("SELECT COUNT(*) FROM employee_pictures")).toInt(), 3);

    STORAGE_OK(m_fixture.storage().migrate());
    QCOMPARE(m_fixture.storage().schemaVersion().value(), 13);
    QCOMPARE(storedPictures(), 2);
    for (const auto &[id, original, shown] : {std::tuple{"P", "photo", "small photo"}, std::tuple{"Q", "photo", "small photo"},
                                              std::tuple{"B", "badge", "small badge"}}) {
        const PresenceRow row = presenceOf(QString::fromLatin1(id));
        QCOMPARE(row.picture, QByteArray(shown));
        QCOMPARE(row.pictureDigest, sha256(shown));
        QCOMPARE(m_fixture.storage().organisation().findEmployee(QString::fromLatin1(id))->picture, QByteArray(original));
    }
    QVERIFY(presenceOf(QStringLiteral("N")).pictureDigest.isEmpty());
    QCOMPARE(m_fixture.scalarRaw(QStringLiteral("SELECT COUNT(*) FROM employees WHERE original_digest IS NULL")).toInt(), 1);
    // PostgreSQL keeps the pictures out of line without trying to compress them again.
    if (m_fixture.isPostgres()) {
        QCOMPARE(m_fixture
                     .scalarRaw(QStringLiteral("SELECT string_agg(attname::text || '=' || attstorage::text, ',' ORDER BY attname)"
                                               " FROM pg_attribute WHERE attrelid = 'pictures'::regclass"
                                               " AND attname IN ('original', 'rendition')"))
                     .toString(),
                 QStringLiteral("original=e,rendition=e"));
    }
}

QTEST_GUILESS_MAIN(TestStoragePictures)
#include "tst_storagepictures.moc"
