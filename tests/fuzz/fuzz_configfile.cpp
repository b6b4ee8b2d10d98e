// The service's configuration file: whatever it holds, the reader answers with entries or one
// sentence naming the line, and what it accepts is only known keys, each once, in file order.

#include "cli/configfile.h"
#include "fuzzsupport.h"

using vorna::service::ConfigEntry;
using vorna::service::ConfigFile;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QStringList keys{QStringLiteral("database"), QStringLiteral("listen"), QStringLiteral("tls-cert")};
    const QByteArray text(reinterpret_cast<const char *>(data), int(size));
    QVector<ConfigEntry> entries;
    QString error;
    if (!ConfigFile::parse(QStringLiteral("f.conf"), text, keys, &entries, &error)) {
        fuzz::require(error.startsWith(QStringLiteral("f.conf, line ")), "a refusal names the file and the line", error);
        return 0;
    }
    fuzz::require(error.isEmpty(), "an accepted file leaves no error", error);
    const int lines = int(text.count('\n')) + 1;
    int previous = 0;
    QStringList seen;
    for (const ConfigEntry &entry : qAsConst(entries)) {
        fuzz::require(keys.contains(entry.key) && !seen.contains(entry.key), "accepted keys are known and unique", entry.key);
        fuzz::require(entry.line > previous && entry.line <= lines, "entries keep the file's line order", entry.key);
        seen << entry.key;
        previous = entry.line;
    }
    return 0;
}
