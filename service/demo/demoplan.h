#pragma once
// The demo organisation as a plan, before anything is stored: reference data (statuses,
// activities, calendars, working-day kinds), and for each employee a name, a department, a
// calendar, absences and the registrations of every working day. Everything follows from the
// seed: employee i is drawn from its own generator seeded with (seed, i), so the same options
// give the same organisation in any order of generation.

#include <QDate>
#include <QDateTime>
#include <QMap>
#include <QRandomGenerator>
#include <QString>
#include <QStringList>
#include <QVector>

namespace vorna::service {

struct DemoOptions
{
    int employees = 200;  // 1 to DemoPlan::maxEmployees
    int months = 3;       // the month of `now` and the months before it, 1 to 24
    quint32 seed = 1;
    QDateTime now;        // the civil moment the demo ends at; invalid means the wall clock now
};

// A named colour of the reference data; colours are 0x00BBGGRR.
struct DemoNamed
{
    QString name;
    int color = 0;
};

enum class DemoStatus { Present, Absent, OnBreak, BusinessTrip, SickLeave, OnVacation };
enum class DemoActivity { Arrival, Departure, BreakStart, BreakEnd, OfficialLeave, SickLeave, Vacation };
enum class DemoDayKind { Holiday, DayOff, SickDay, VacationDay, BusinessTrip };
enum class DemoAbsence { Sick, Vacation, Trip, DayOff };

struct DemoShift
{
    DemoNamed calendar;
    int startHour = 8;
    int endHour = 16;
    bool hasBreak = true;
    int weight = 1; // how often it is an employee's first calendar
};

struct DemoEmployee
{
    int index = 0;
    QString id;
    QString lastName;
    QString firstName;
    bool female = false;       // the first name is a woman's
    int department = 0;        // index into departments()
    bool newHire = false;      // starts today: no registrations at all
    bool missingToday = false; // has not come in today, so the last registration is stale
    int shift = 0;             // index into shifts(), from startDay
    QDate startDay;
    QDate switchDay;           // valid when the employee moves to switchShift from that day on
    int switchShift = -1;
    QMap<QDate, DemoAbsence> absences;

    int shiftOn(const QDate &day) const;
};

struct DemoRegistration
{
    QDateTime at;
    DemoActivity activity;
};

class DemoPlan
{
public:
    static constexpr int maxEmployees = 100000;
    static constexpr int maxMonths = 24;

    explicit DemoPlan(const DemoOptions &options);

    // Empty when the options are usable, else a sentence saying what to change.
    static QString checkOptions(const DemoOptions &options);

    static const QVector<DemoNamed> &statuses();            // by DemoStatus
    static const QStringList &activities();                 // by DemoActivity; the status gives the colour
    static DemoStatus statusOf(DemoActivity activity);
    static const QVector<DemoShift> &shifts();
    static const QVector<DemoNamed> &dayKinds();            // by DemoDayKind
    static DemoDayKind dayKindOf(DemoAbsence absence);
    static QStringList departments();

    int employeeCount() const { return m_options.employees; }
    QDate firstDay() const { return m_firstDay; }
    QDateTime now() const { return m_now; }
    bool isHoliday(const QDate &day) const;
    bool isWorkDay(const QDate &day) const;
    QVector<QDate> holidays() const;  // working days of the plan's range that are public holidays

    DemoEmployee employee(int index) const;
    // A portrait that fits the employee's first name.
    QByteArray picture(const DemoEmployee &employee) const;
    // In time order, none after now().
    QVector<DemoRegistration> registrations(const DemoEmployee &employee) const;

private:
    QRandomGenerator generatorFor(int index, quint32 stream) const;
    QVector<QDate> workDays() const;
    void planAbsences(DemoEmployee &employee, QRandomGenerator &random) const;
    void addWorkingDay(const DemoEmployee &employee, const QDate &day, QRandomGenerator &random,
                       QVector<DemoRegistration> *out) const;
    void addFirstAbsenceDay(const DemoEmployee &employee, const QDate &day, DemoAbsence absence,
                            QRandomGenerator &random, QVector<DemoRegistration> *out) const;

    DemoOptions m_options;
    QDateTime m_now;
    QDate m_firstDay;
    QVector<QDate> m_workDays;
};

} // namespace vorna::service
