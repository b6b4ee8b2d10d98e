#pragma once
// One presence row as the dbPresenceResponse signal carries it, converted on the worker
// thread so the GUI thread only emits.

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace vorna::v1 {
class PresenceRow;
}

namespace ostrel {

class PictureCache;

struct PresenceValues
{
    QString idEmp;
    QString lastName;
    QString firstName;
    QDateTime lastActDT;
    bool old = false;
    QString lastActDesc;
    QString department;
    QByteArray picture;
    QString presence;
    int actColor = 0;
    // The row's last activity lay outside the accepted years: lastActDT is left invalid, as for
    // an employee without a registration, and the answer logs how many rows had that.
    bool lastActOutOfRange = false;

    // Rows without picture bytes take them from `pictures`.
    static PresenceValues fromRow(const vorna::v1::PresenceRow &row, PictureCache &pictures);
};

} // namespace ostrel
