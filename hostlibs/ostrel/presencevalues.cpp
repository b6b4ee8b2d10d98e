#include "presencevalues.h"

#include "civiltime.h"
#include "picturecache.h"

#include "commservice.pb.h"

namespace ostrel {

PresenceValues PresenceValues::fromRow(const vorna::v1::PresenceRow &row, PictureCache &pictures)
{
    PresenceValues values;
    values.idEmp = QString::fromStdString(row.employee_id());
    values.lastName = QString::fromStdString(row.last_name());
    values.firstName = QString::fromStdString(row.first_name());
    if (row.has_last_activity()) {
        values.lastActDT = localFromCivilSeconds(row.last_activity().seconds());
        values.lastActOutOfRange = !values.lastActDT.isValid();
    }
    values.old = row.stale();
    values.lastActDesc = QString::fromStdString(row.activity_description());
    values.department = QString::fromStdString(row.department());
    values.picture = pictures.resolve(row.picture_digest(), row.picture());
    values.presence = QString::fromStdString(row.presence_status());
    values.actColor = row.status_color();
    return values;
}

} // namespace ostrel
