// vorna-screenshots: saves screenshots of the real panel connected to a running service.
// Needs a display; tools/screenshots.sh starts the demo service and a virtual display.

#include "paneldriver.h"
#include "panelsteps.h"
#include "screenshotwalk.h"

#include <QCommandLineParser>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>

namespace {

struct Parsed
{
    ScreenshotOptions options;
    QString error;
};

QSize parseSize(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('x'));
    if (parts.size() != 2)
        return {};
    bool widthOk = false;
    bool heightOk = false;
    const QSize size(parts.at(0).toInt(&widthOk), parts.at(1).toInt(&heightOk));
    return (widthOk && heightOk && size.width() >= 200 && size.height() >= 200) ? size : QSize();
}

Parsed parseArguments(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Walks the real panel through its screens against a running attendance service and saves "
        "each screen as <page>-<theme>-<language><suffix>.png."));
    parser.addHelpOption();
    const QCommandLineOption server(QStringLiteral("server"), QStringLiteral("The service's address. Default: 127.0.0.1."),
                                    QStringLiteral("address"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("The service's port (required)."), QStringLiteral("port"));
    const QCommandLineOption user(QStringLiteral("user"), QStringLiteral("The user to log in as. Default: manager."),
                                  QStringLiteral("name"), QStringLiteral("manager"));
    const QCommandLineOption theme(QStringLiteral("theme"), QStringLiteral("light or dark. Default: light."),
                                   QStringLiteral("theme"), QStringLiteral("light"));
    const QCommandLineOption language(QStringLiteral("lang"), QStringLiteral("en or sr. Default: en."),
                                      QStringLiteral("language"), QStringLiteral("en"));
    const QCommandLineOption size(QStringLiteral("size"), QStringLiteral("The window size, WIDTHxHEIGHT. Default: 400x600."),
                                  QStringLiteral("size"), QStringLiteral("400x600"));
    const QCommandLineOption pages(QStringLiteral("pages"),
                                   QStringLiteral("Comma-separated pages to save: %1. Default: all.")
                                       .arg(ScreenshotWalk::allPages().join(QLatin1Char(','))),
                                   QStringLiteral("list"), ScreenshotWalk::allPages().join(QLatin1Char(',')));
    const QCommandLineOption employee(QStringLiteral("employee"),
                                      QStringLiteral("The id of the employee the detail page shows. Default: the first listed one with a registration."),
                                      QStringLiteral("id"));
    const QCommandLineOption output(QStringLiteral("out"), QStringLiteral("The folder for the PNG files (required)."),
                                    QStringLiteral("folder"));
    const QCommandLineOption suffix(QStringLiteral("suffix"), QStringLiteral("Appended to each file name before .png, e.g. -1280x800."),
                                    QStringLiteral("text"));
    parser.addOptions({server, port, user, theme, language, size, pages, employee, output, suffix});
    parser.process(arguments);

    Parsed parsed;
    ScreenshotOptions &options = parsed.options;
    options.server = parser.value(server);
    options.port = parser.value(port);
    options.user = parser.value(user);
    // The demo organisation's published password; a real one never goes on a command line.
    options.password = qEnvironmentVariable("VORNA_SCREENSHOT_PASSWORD", QStringLiteral("vorna-demo"));
    options.dark = parser.value(theme) == QLatin1String("dark");
    options.serbian = parser.value(language) == QLatin1String("sr");
    options.size = parseSize(parser.value(size));
    options.pages = parser.value(pages).split(QLatin1Char(','), Qt::SkipEmptyParts);
    options.employee = parser.value(employee);
    options.outputFolder = parser.value(output);
    options.suffix = parser.value(suffix);

    if (options.port.isEmpty() || options.outputFolder.isEmpty())
        parsed.error = QStringLiteral("Give the service's port with --port and a folder with --out.");
    else if (!QStringList{QStringLiteral("light"), QStringLiteral("dark")}.contains(parser.value(theme)))
        parsed.error = QStringLiteral("--theme takes light or dark.");
    else if (!QStringList{QStringLiteral("en"), QStringLiteral("sr")}.contains(parser.value(language)))
        parsed.error = QStringLiteral("--lang takes en or sr.");
    else if (!options.size.isValid())
        parsed.error = QStringLiteral("--size takes WIDTHxHEIGHT, each at least 200, e.g. 1280x800.");
    for (const QString &page : qAsConst(options.pages)) {
        if (!ScreenshotWalk::allPages().contains(page))
            parsed.error = QStringLiteral("--pages knows %1, not \"%2\".").arg(ScreenshotWalk::allPages().join(QStringLiteral(", ")), page);
    }
    return parsed;
}

} // namespace

int main(int argc, char *argv[])
{
    // The panel's settings of this walk live and die with it.
    QTemporaryDir panelHome;
    PanelDriver::prepareProcess(panelHome.path());
    QGuiApplication app(argc, argv);
    QTextStream err(stderr);

    const Parsed parsed = parseArguments(app.arguments());
    if (!parsed.error.isEmpty()) {
        err << "vorna-screenshots: " << parsed.error << "\nRun 'vorna-screenshots --help' for the options.\n";
        return 2;
    }
    PanelDriver driver;
    PanelSteps steps(driver);
    ScreenshotWalk walk(driver, steps, parsed.options);
    const QStringList saved = walk.run();
    if (saved.isEmpty()) {
        err << "vorna-screenshots: " << walk.error() << '\n';
        return 1;
    }
    QTextStream out(stdout);
    for (const QString &path : saved)
        out << path << '\n';
    return 0;
}
