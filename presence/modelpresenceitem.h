#pragma once
// One employee of a presence answer, as the service delivered it, plus the last activity's
// time preformatted for display. A plain value: its texts and bytes are implicitly shared.

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QtGlobal>

struct ModelPresenceItem
{
    QString idEmp;        // employee id; also the picture key
    QString lastName;
    QString firstName;
    QDateTime lastActDT;  // time of the last registered activity
    QString lastActDT2;   // lastActDT as display text, formatted when the record is made
    bool old = false;     // the last activity is stale: shown in red
    QString lastActDesc;
    QString department;
    QByteArray picture;   // encoded image bytes, possibly empty
    QString presence;     // presence status text; the category the list is filtered by
    int actColor = 0;     // badge colour, 0x00BBGGRR
};

// Every field is movable, so a growing list moves records with memcpy instead of copying them.
Q_DECLARE_TYPEINFO(ModelPresenceItem, Q_MOVABLE_TYPE);
