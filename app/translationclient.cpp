#include "translationclient.h"

#include <QCoreApplication>
#include <QTranslator>

#include <cstring>

namespace {

// The catalogue names a layout file's context after the file less its last extension
// ("PageDetailForm.ui"), as lupdate and the QML compiler's plain qsTr() bindings do. When a
// binding does more than call qsTr(), e.g. qsTr("Day") + translation.emptyString, Qt 5's
// script runtime names the context after the file up to its first dot ("PageDetailForm") and
// finds nothing. This translator looks such a context up under the layout file's name too.
class LayoutAwareTranslator final : public QTranslator
{
public:
    using QTranslator::QTranslator;

    QString translate(const char *context, const char *sourceText, const char *disambiguation = nullptr,
                      int n = -1) const override
    {
        const QString found = QTranslator::translate(context, sourceText, disambiguation, n);
        if (!found.isNull() || !context || std::strchr(context, '.'))
            return found;
        const QByteArray layoutContext = QByteArray(context) + ".ui";
        return QTranslator::translate(layoutContext.constData(), sourceText, disambiguation, n);
    }
};

} // namespace

TranslationClient::TranslationClient(QObject *parent)
    : QObject(parent)
    , m_translator(new LayoutAwareTranslator(this))
{
    // A missing catalogue leaves the translator empty: Serbian then shows the English texts.
    m_translator->load(QStringLiteral(":/serbian.qm"));
}

QString TranslationClient::emptyString() const
{
    return QString();
}

int TranslationClient::language() const
{
    return m_language;
}

void TranslationClient::setLanguage(int lang)
{
    if (lang == m_language)
        return;
    // Codes other than English and Serbian are remembered but keep the translator as it is.
    if (lang == English)
        QCoreApplication::removeTranslator(m_translator);
    else if (lang == Serbian)
        QCoreApplication::installTranslator(m_translator);
    m_language = lang;
    emit languageChanged();
}
