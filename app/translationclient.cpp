#include "translationclient.h"

#include <QCoreApplication>
#include <QTranslator>

TranslationClient::TranslationClient(QObject *parent)
    : QObject(parent)
    , m_translator(new QTranslator(this))
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
