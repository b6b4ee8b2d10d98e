// The Serbian catalogue: its compiled form in the resources gives each translation, and its
// source agrees both ways with the texts that the screens pass through translation.

#include <QFile>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTranslator>
#include <QXmlStreamReader>
#include <QtTest>

#include <iterator>

namespace {

struct Message
{
    QString context;
    QString source;
    QString translation;
    bool numerus = false;
    bool hasComment = false;
};

struct Catalogue
{
    QString language;
    QVector<Message> messages;
};

using Key = QPair<QString, QString>;  // context, source text

struct Expected
{
    const char *context;
    const char *source;
    const char *serbian;
};

// The catalogue as the screens need it, screen by screen: the 52 messages it has always had,
// unchanged...
const Expected fixedMessages[] = {
    {"main", "Settings...", "Podešavanja..."},
    {"main", "About...", "O programu..."},
    {"main", "Exit", "Izlaz"},

    {"PageLogin", "Server", "Server"},
    {"PageLogin", "Port", "Port"},
    {"PageLogin", "User", "Korisnik"},
    {"PageLogin", "Password", "Lozinka"},
    {"PageLogin", "Save password", "Zapamti lozinku"},
    {"PageLogin", "Connect", "Povezivanje"},
    {"PageLogin", "Error", "Greška"},
    {"PageLogin", "Bad username and/or password.", "Loše korisničko ime i/ili lozinka."},
    {"PageLoginForm.ui", "Server", "Server"},
    {"PageLoginForm.ui", "Port", "Port"},
    {"PageLoginForm.ui", "User", "Korisnik"},
    {"PageLoginForm.ui", "Password", "Lozinka"},
    {"PageLoginForm.ui", "Save password", "Zapamti lozinku"},
    {"PageLoginForm.ui", "Connect", "Povezivanje"},

    {"PageList", "All", "Svi"},
    {"PageList", "MM/dd/yyyy hh:mm", "dd.MM.yyyy. hh:mm"},
    {"PageListForm.ui", "Filter", "Filter"},

    {"PageDetail", "Assign Calendar...", "Dodeli kalendar..."},
    {"PageDetail", "Assign Exception...", "Dodeli izuzetak..."},
    {"PageDetail", "Assign calendar '%1' to employee '%2' starting from %3?",
     "Dodeliti kalendar '%1' zaposlenom '%2' počev od %3?"},
    {"PageDetail", "Assign working day '%1' to employee '%2' on %3?",
     "Dodeliti radni dan '%1' zaposlenom '%2' za dan %3?"},
    {"PageDetail", "Confirmation", "Potvrda"},
    {"PageDetail", "Error", "Greška"},
    {"PageDetail", "Info", "Obaveštenje"},
    {"PageDetail", "MM/dd/yyyy", "dd.MM.yyyy"},
    {"PageDetailForm.ui", "Assign", "Dodeli"},
    {"PageDetailForm.ui", "Calendar", "Kalendar"},
    {"PageDetailForm.ui", "Cancel", "Odustani"},
    {"PageDetailForm.ui", "Day", "Dan"},
    {"PageDetailForm.ui", "Exception", "Izuzetak"},
    {"PageDetailForm.ui", "Working Day", "Radni dan"},

    {"PageDateTime", "Accept", "Prihvati"},
    {"PageDateTime", "Day", "Dan"},
    {"PageDateTime", "Month", "Mesec"},
    {"PageDateTime", "Year", "Godina"},
    {"PageDateTime", "Hour", "Sat"},
    {"PageDateTime", "Minute", "Minut"},
    {"PageDateTimeForm.ui", "Accept", "Prihvati"},
    {"PageDateTimeForm.ui", "Day", "Dan"},
    {"PageDateTimeForm.ui", "Month", "Mesec"},
    {"PageDateTimeForm.ui", "Year", "Godina"},
    {"PageDateTimeForm.ui", "Hour", "Sat"},
    {"PageDateTimeForm.ui", "Minute", "Minut"},
    {"ButtonDateTime", "MM/dd/yyyy", "dd.MM.yyyy"},
    {"ButtonDateTime", "MM/dd/yyyy hh:mm", "dd.MM.yyyy. hh:mm"},

    {"PageSettings", "Dark", "Tamna"},
    {"PageSettings", "Light", "Svetla"},
    {"PageSettings", "Language", "Jezik"},
    {"PageSettings", "Theme", "Tema"},
};

// ... and the texts added since, each in a context of its own (a new file or component).
const Expected addedMessages[] = {
    {"LiveIndicator", "Live, updated %1", "Uživo, osveženo %1"},
    {"SessionOnlyNote", "No secret store answered: the password is kept for this session only.",
     "Nijedno skladište tajni nije odgovorilo: lozinka se čuva samo do kraja ove sesije."},
};

QVector<Expected> expectedMessages()
{
    QVector<Expected> all(std::begin(fixedMessages), std::end(fixedMessages));
    all += QVector<Expected>(std::begin(addedMessages), std::end(addedMessages));
    return all;
}

// Entries that no text of the screens asks for: the list page formats no date itself (the
// service handler formats the rows' times in a context of its own), yet the catalogue keeps
// the list page's format. (PageDetail's "Info" is asked for by a function nothing calls, so
// lupdate still finds it.)
const QSet<Key> entriesNoScreenAsksFor = {
    {QStringLiteral("PageList"), QStringLiteral("MM/dd/yyyy hh:mm")},
};

QString elementText(QXmlStreamReader &xml)
{
    return xml.readElementText(QXmlStreamReader::IncludeChildElements);
}

Message readMessage(QXmlStreamReader &xml, const QString &context)
{
    Message message;
    message.context = context;
    message.numerus = xml.attributes().value(QLatin1String("numerus")) == QLatin1String("yes");
    while (xml.readNextStartElement()) {
        if (xml.name() == QLatin1String("source"))
            message.source = elementText(xml);
        else if (xml.name() == QLatin1String("translation"))
            message.translation = elementText(xml);
        else if (xml.name() == QLatin1String("comment"))
            message.hasComment = !elementText(xml).isEmpty();
        else
            xml.skipCurrentElement();
    }
    return message;
}

void readContext(QXmlStreamReader &xml, Catalogue *catalogue)
{
    QString name;
    while (xml.readNextStartElement()) {
        if (xml.name() == QLatin1String("name"))
            name = elementText(xml);
        else if (xml.name() == QLatin1String("message"))
            catalogue->messages << readMessage(xml, name);
        else
            xml.skipCurrentElement();
    }
}

// Reads a catalogue source (.ts); fails the calling test when it does not parse.
bool readCatalogue(const QString &path, Catalogue *catalogue)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning("Cannot open %s: %s", qPrintable(path), qPrintable(file.errorString()));
        return false;
    }
    QXmlStreamReader xml(&file);
    if (!xml.readNextStartElement() || xml.name() != QLatin1String("TS")) {
        qWarning("%s is not a translation catalogue source.", qPrintable(path));
        return false;
    }
    catalogue->language = xml.attributes().value(QLatin1String("language")).toString();
    while (xml.readNextStartElement()) {
        if (xml.name() == QLatin1String("context"))
            readContext(xml, catalogue);
        else
            xml.skipCurrentElement();
    }
    if (xml.hasError()) {
        qWarning("%s: %s", qPrintable(path), qPrintable(xml.errorString()));
        return false;
    }
    return true;
}

QSet<Key> keysOf(const Catalogue &catalogue)
{
    QSet<Key> keys;
    for (const Message &message : catalogue.messages)
        keys.insert({message.context, message.source});
    return keys;
}

QStringList describe(const QSet<Key> &keys)
{
    QStringList lines;
    for (const Key &key : keys)
        lines << key.first + QLatin1String(": \"") + key.second + QLatin1Char('"');
    lines.sort();
    return lines;
}

} // namespace

class TestCatalogue : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void compiledTranslation_data();
    void compiledTranslation();
    void textsOutsideTheirContextStayEnglish_data();
    void textsOutsideTheirContextStayEnglish();

    void sourceHoldsExactlyTheExpectedMessages();
    void everyScreenTextHasAnEntryInItsContext();
    void everyEntryIsAskedForByAScreen();

private:
    QTranslator m_compiled;
    Catalogue m_source;
    QSet<Key> m_screenTexts;
};

void TestCatalogue::initTestCase()
{
    QVERIFY2(m_compiled.load(QStringLiteral(":/serbian.qm")),
             "the resources hold no loadable :/serbian.qm");
    QVERIFY(readCatalogue(QStringLiteral(VORNA_QML_DIR "/serbian.ts"), &m_source));

    // What the screens ask for, as the translation tools see it.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString scanned = dir.filePath(QStringLiteral("screens.ts"));
    QProcess lupdate;
    lupdate.start(QStringLiteral(VORNA_LUPDATE),
                  {QStringLiteral("-silent"), QStringLiteral(VORNA_QML_DIR), QStringLiteral("-ts"), scanned});
    QVERIFY2(lupdate.waitForFinished(60000), "lupdate did not finish within a minute");
    QVERIFY2(lupdate.exitStatus() == QProcess::NormalExit && lupdate.exitCode() == 0,
             lupdate.readAllStandardError().constData());
    Catalogue screens;
    QVERIFY(readCatalogue(scanned, &screens));
    m_screenTexts = keysOf(screens);
    QVERIFY2(!m_screenTexts.isEmpty(), "lupdate found no translatable text in the screens");
}

void TestCatalogue::compiledTranslation_data()
{
    QTest::addColumn<QString>("context");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("serbian");
    for (const Expected &e : expectedMessages()) {
        QTest::addRow("%s: %s", e.context, e.source)
            << QString::fromUtf8(e.context) << QString::fromUtf8(e.source) << QString::fromUtf8(e.serbian);
    }
}

void TestCatalogue::compiledTranslation()
{
    QFETCH(QString, context);
    QFETCH(QString, source);
    QFETCH(QString, serbian);
    QCOMPARE(m_compiled.translate(context.toUtf8().constData(), source.toUtf8().constData()), serbian);
}

void TestCatalogue::textsOutsideTheirContextStayEnglish_data()
{
    QTest::addColumn<QByteArray>("context");
    QTest::addColumn<QByteArray>("source");
    // Each text has an entry, but only in other contexts.
    QTest::newRow("the rows' time format") << QByteArray("ServiceHandler") << QByteArray("MM/dd/yyyy hh:mm");
    QTest::newRow("Day on the settings page") << QByteArray("PageSettings") << QByteArray("Day");
    QTest::newRow("Error in the main window") << QByteArray("main") << QByteArray("Error");
    QTest::newRow("Filter on the list page") << QByteArray("PageList") << QByteArray("Filter");
    QTest::newRow("Exit on the about page") << QByteArray("PageAbout") << QByteArray("Exit");
}

void TestCatalogue::textsOutsideTheirContextStayEnglish()
{
    QFETCH(QByteArray, context);
    QFETCH(QByteArray, source);
    QCOMPARE(m_compiled.translate(context.constData(), source.constData()), QString());
}

void TestCatalogue::sourceHoldsExactlyTheExpectedMessages()
{
    QCOMPARE(m_source.language, QStringLiteral("sr_RS@latin"));
    QCOMPARE(int(std::size(fixedMessages)), 52);
    QCOMPARE(m_source.messages.size(), expectedMessages().size());

    QSet<Key> expected;
    for (const Expected &e : expectedMessages())
        expected.insert({QString::fromUtf8(e.context), QString::fromUtf8(e.source)});
    QCOMPARE(describe(keysOf(m_source)), describe(expected));

    for (const Message &message : m_source.messages) {
        const QString where = message.context + QLatin1String(": ") + message.source;
        QVERIFY2(!message.numerus, qPrintable(where + QLatin1String(" has plural forms")));
        QVERIFY2(!message.hasComment, qPrintable(where + QLatin1String(" has a disambiguation")));
        QVERIFY2(!message.translation.isEmpty(), qPrintable(where + QLatin1String(" is untranslated")));
    }
}

void TestCatalogue::everyScreenTextHasAnEntryInItsContext()
{
    const QSet<Key> missing = m_screenTexts - keysOf(m_source);
    QVERIFY2(missing.isEmpty(),
             qPrintable(QLatin1String("screen texts without an entry: ") + describe(missing).join(QLatin1String("; "))));
}

void TestCatalogue::everyEntryIsAskedForByAScreen()
{
    const QSet<Key> unused = keysOf(m_source) - m_screenTexts;
    QCOMPARE(describe(unused), describe(entriesNoScreenAsksFor));
}

QTEST_GUILESS_MAIN(TestCatalogue)

#include "tst_catalogue.moc"
