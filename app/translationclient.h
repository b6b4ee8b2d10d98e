#pragma once
// Switches the interface between English (the source texts) and Serbian at run time.
//
// QML binds every translated text as qsTr("...") + translation.emptyString. Reading
// emptyString makes the binding depend on languageChanged, so each switch re-evaluates
// every text against whichever translator is installed at that moment.

#include <QObject>
#include <QString>

class QTranslator;

class TranslationClient : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString emptyString READ emptyString NOTIFY languageChanged)

public:
    enum Language { NoLanguage = -1, English = 0, Serbian = 1 };

    explicit TranslationClient(QObject *parent = nullptr);

    QString emptyString() const;
    // The code of the last effective setLanguage call; NoLanguage until the first one.
    int language() const;

signals:
    void languageChanged();

public slots:
    void setLanguage(int lang);

private:
    QTranslator *m_translator;
    int m_language = NoLanguage;
};
