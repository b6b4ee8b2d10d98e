#pragma once
// Seeds a believable organisation through the organisation and calendar stores: departments, presence
// statuses, activity kinds, calendars, working-day kinds, employees with portraits, months of
// registrations, calendar assignments and working-day exceptions. Users are not seeded here:
// the service's demo command adds them.

#include "demo/demoplan.h"
#include "storage/calendarstore.h"
#include "storage/organisationstore.h"

namespace vorna::service {

struct DemoSummary
{
    int departments = 0;
    int employees = 0;
    qint64 registrations = 0;
    int assignments = 0;
};

class DemoSeeder
{
public:
    // Working-day exceptions are assigned to this many employees at most. Each assignment is
    // audited on its own, so a demo of 100,000 employees would otherwise take hours.
    static constexpr int detailedEmployees = 2000;

    DemoSeeder(OrganisationStore &organisation, CalendarStore &calendars);

    // Seeds a migrated database within `tx`. Refuses a database that already holds
    // departments. Reports the phases "reference data", "employees" and "assignments".
    StorageError seed(Transaction &tx, const DemoOptions &options, const Progress &progress = {},
                      DemoSummary *summary = nullptr);

private:
    struct Ids
    {
        QVector<qint64> departments;
        QVector<qint64> statuses;   // by DemoStatus
        QVector<qint64> activities; // by DemoActivity
        QVector<int> calendars;     // by shift
        QVector<int> dayKinds;      // by DemoDayKind
    };

    static StorageError checkEmpty(Transaction &tx);
    StorageError addReferenceData(Transaction &tx, Ids *ids);
    StorageError addPeople(Transaction &tx, const DemoPlan &plan, const Ids &ids, const Progress &progress,
                           DemoSummary *summary);
    StorageError addAssignments(Transaction &tx, const DemoPlan &plan, const Ids &ids, const Progress &progress,
                                DemoSummary *summary);

    OrganisationStore &m_organisation;
    CalendarStore &m_calendars;
};

} // namespace vorna::service
