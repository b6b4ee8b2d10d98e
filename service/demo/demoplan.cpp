#include "demo/demoplan.h"

#include "demo/demonames.h"
#include "demo/demopicture.h"

#include <QTime>

#include <numeric>

namespace vorna::service {

namespace {

// Colours are written as 0xRRGGBB, as designers give them, and stored as 0x00BBGGRR.
constexpr int fromRgb(quint32 rgb)
{
    return int(((rgb & 0xFF) << 16) | (rgb & 0xFF00) | ((rgb >> 16) & 0xFF));
}

// Separate random streams per employee, so that adding a draw to one concern does not
// change the others.
enum Stream : quint32 { PersonStream = 1, PictureStream, AbsenceStream, TimeStream };

// Large demos reuse portraits: drawing and encoding one costs about a millisecond.
constexpr int distinctPictures = 2000;

// Fixed public holidays of Serbia (month, day).
const QVector<QPair<int, int>> publicHolidays = {{1, 1}, {1, 2}, {1, 7}, {2, 15}, {2, 16}, {5, 1}, {5, 2}, {11, 11}};

// Per hundred employees or per hundred employee-months.
constexpr int newHirePercent = 2;
constexpr int missingTodayPercent = 8;
constexpr int switchShiftPercent = 15;
constexpr int vacationPercent = 12;
constexpr int sickPerMonthPercent = 4;
constexpr int tripPerMonthPercent = 5;
constexpr int dayOffPerMonthPercent = 6;

// Every full name of both pools, numbered: Serbian first, then English.
int nameSlots()
{
    return demonames::serbian.size() + demonames::english.size();
}

// A stride through the name slots that visits each of them once per round.
int nameStride()
{
    int stride = 1021;
    while (std::gcd(stride, nameSlots()) != 1)
        ++stride;
    return stride;
}

// " A.", " B." ... " A. A." for the rounds after the first, which reuse the full names.
QString middleInitials(int round)
{
    static const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPRSTUVZ");
    QString initials;
    for (int rest = round; rest > 0; rest = (rest - 1) / letters.size())
        initials.prepend(QStringLiteral(" %1.").arg(letters.at((rest - 1) % letters.size())));
    return initials;
}

void assignName(DemoEmployee &e, int slot, int round)
{
    const bool isSerbian = slot < demonames::serbian.size();
    const demonames::NamePool &pool = isSerbian ? demonames::serbian : demonames::english;
    const int inPool = isSerbian ? slot : slot - demonames::serbian.size();
    const int first = inPool % pool.firstNameCount();
    e.lastName = pool.lastNames.at(inPool / pool.firstNameCount());
    e.female = first < pool.femaleFirstNames.size();
    e.firstName = (e.female ? pool.femaleFirstNames.at(first)
                            : pool.maleFirstNames.at(first - pool.femaleFirstNames.size()))
        + middleInitials(round);
}

QDateTime at(const QDate &day, int minuteOfDay)
{
    return QDateTime(day, QTime(0, 0).addSecs(minuteOfDay * 60), Qt::UTC);
}

int weightedShift(QRandomGenerator &random)
{
    int total = 0;
    for (const DemoShift &shift : DemoPlan::shifts())
        total += shift.weight;
    int draw = random.bounded(total);
    for (int i = 0; i < DemoPlan::shifts().size(); ++i) {
        draw -= DemoPlan::shifts().at(i).weight;
        if (draw < 0)
            return i;
    }
    return 0;
}

int weightedDepartment(QRandomGenerator &random)
{
    int total = 0;
    for (const demonames::DepartmentShare &share : demonames::departments)
        total += share.weight;
    int draw = random.bounded(total);
    for (int i = 0; i < demonames::departments.size(); ++i) {
        draw -= demonames::departments.at(i).weight;
        if (draw < 0)
            return i;
    }
    return 0;
}

} // namespace

int DemoEmployee::shiftOn(const QDate &day) const
{
    return switchDay.isValid() && day >= switchDay ? switchShift : shift;
}

DemoPlan::DemoPlan(const DemoOptions &options)
    : m_options(options)
{
    // The wall clock read as civil time: its date and time of day, no zone.
    const QDateTime local = QDateTime::currentDateTime();
    m_now = options.now.isValid() ? options.now : QDateTime(local.date(), local.time(), Qt::UTC);
    const QDate today = m_now.date();
    m_firstDay = QDate(today.year(), today.month(), 1).addMonths(1 - std::max(1, options.months));
    m_workDays = workDays();
}

QString DemoPlan::checkOptions(const DemoOptions &options)
{
    if (options.employees < 1 || options.employees > maxEmployees)
        return QStringLiteral("The demo can have 1 to %1 employees, not %2.").arg(maxEmployees).arg(options.employees);
    if (options.months < 1 || options.months > maxMonths)
        return QStringLiteral("The demo can cover 1 to %1 months, not %2.").arg(maxMonths).arg(options.months);
    return {};
}

const QVector<DemoNamed> &DemoPlan::statuses()
{
    static const QVector<DemoNamed> list = {
        {QStringLiteral("Present"), fromRgb(0x43A047)},       {QStringLiteral("Absent"), fromRgb(0xE53935)},
        {QStringLiteral("On break"), fromRgb(0xFFB300)},      {QStringLiteral("Business trip"), fromRgb(0x1E88E5)},
        {QStringLiteral("Sick leave"), fromRgb(0x8E24AA)},    {QStringLiteral("On vacation"), fromRgb(0x00897B)}};
    return list;
}

const QStringList &DemoPlan::activities()
{
    static const QStringList list = {QStringLiteral("Arrival"),        QStringLiteral("Departure"),
                                     QStringLiteral("Break start"),    QStringLiteral("Break end"),
                                     QStringLiteral("Official leave"), QStringLiteral("Sick leave"),
                                     QStringLiteral("Vacation")};
    return list;
}

DemoStatus DemoPlan::statusOf(DemoActivity activity)
{
    switch (activity) {
    case DemoActivity::Arrival:
    case DemoActivity::BreakEnd:
        return DemoStatus::Present;
    case DemoActivity::Departure:
        return DemoStatus::Absent;
    case DemoActivity::BreakStart:
        return DemoStatus::OnBreak;
    case DemoActivity::OfficialLeave:
        return DemoStatus::BusinessTrip;
    case DemoActivity::SickLeave:
        return DemoStatus::SickLeave;
    case DemoActivity::Vacation:
        return DemoStatus::OnVacation;
    }
    return DemoStatus::Absent;
}

const QVector<DemoShift> &DemoPlan::shifts()
{
    static const QVector<DemoShift> list = {
        {{QStringLiteral("Standard 8-16"), fromRgb(0x90CAF9)}, 8, 16, true, 70},
        {{QStringLiteral("Shift A"), fromRgb(0xFFCC80)}, 6, 14, true, 12},
        {{QStringLiteral("Shift B"), fromRgb(0xCE93D8)}, 14, 22, true, 12},
        {{QStringLiteral("Part-time 8-12"), fromRgb(0xA5D6A7)}, 8, 12, false, 6}};
    return list;
}

const QVector<DemoNamed> &DemoPlan::dayKinds()
{
    static const QVector<DemoNamed> list = {
        {QStringLiteral("Holiday"), fromRgb(0xEF9A9A)},      {QStringLiteral("Day off"), fromRgb(0xFFF59D)},
        {QStringLiteral("Sick day"), fromRgb(0xB39DDB)},     {QStringLiteral("Vacation day"), fromRgb(0x80CBC4)},
        {QStringLiteral("Business trip"), fromRgb(0x81D4FA)}};
    return list;
}

DemoDayKind DemoPlan::dayKindOf(DemoAbsence absence)
{
    switch (absence) {
    case DemoAbsence::Sick:
        return DemoDayKind::SickDay;
    case DemoAbsence::Vacation:
        return DemoDayKind::VacationDay;
    case DemoAbsence::Trip:
        return DemoDayKind::BusinessTrip;
    case DemoAbsence::DayOff:
        return DemoDayKind::DayOff;
    }
    return DemoDayKind::DayOff;
}

QStringList DemoPlan::departments()
{
    QStringList names;
    for (const demonames::DepartmentShare &share : demonames::departments)
        names << share.name;
    return names;
}

bool DemoPlan::isHoliday(const QDate &day) const
{
    return publicHolidays.contains({day.month(), day.day()});
}

bool DemoPlan::isWorkDay(const QDate &day) const
{
    return day.dayOfWeek() <= 5 && !isHoliday(day);
}

QVector<QDate> DemoPlan::workDays() const
{
    QVector<QDate> days;
    for (QDate day = m_firstDay; day <= m_now.date(); day = day.addDays(1)) {
        if (isWorkDay(day))
            days << day;
    }
    return days;
}

QVector<QDate> DemoPlan::holidays() const
{
    QVector<QDate> days;
    for (QDate day = m_firstDay; day <= m_now.date(); day = day.addDays(1)) {
        if (day.dayOfWeek() <= 5 && isHoliday(day))
            days << day;
    }
    return days;
}

QRandomGenerator DemoPlan::generatorFor(int index, quint32 stream) const
{
    const quint32 seed[] = {m_options.seed, quint32(index), stream};
    return QRandomGenerator(seed, 3);
}

DemoEmployee DemoPlan::employee(int index) const
{
    QRandomGenerator random = generatorFor(index, PersonStream);
    DemoEmployee e;
    e.index = index;
    const int width = std::max(4, int(QString::number(m_options.employees).size()));
    e.id = QStringLiteral("%1").arg(index + 1, width, 10, QLatin1Char('0'));
    // Each employee of a round takes a full name of its own; the seed shifts where the
    // stride starts, so two demos differ.
    const qint64 slot = (qint64(index % nameSlots()) * nameStride() + m_options.seed) % nameSlots();
    assignName(e, int(slot), index / nameSlots());
    e.department = weightedDepartment(random);
    e.shift = weightedShift(random);
    // The first employee always has a history, so even a one-person demo shows something;
    // from a handful of employees on, the last one is new and the second has not come in.
    const bool newHireDraw = random.bounded(100) < newHirePercent;
    const bool missingDraw = random.bounded(100) < missingTodayPercent;
    const bool handful = m_options.employees >= 5;
    e.newHire = index > 0 && ((handful && index == m_options.employees - 1) || newHireDraw);
    e.missingToday = !e.newHire && ((handful && index == 1) || missingDraw);
    e.startDay = e.newHire ? m_now.date() : m_firstDay;
    if (!e.newHire && m_workDays.size() > 10 && random.bounded(100) < switchShiftPercent) {
        e.switchDay = m_workDays.at(5 + random.bounded(m_workDays.size() - 5));
        e.switchShift = (e.shift + 1 + random.bounded(shifts().size() - 1)) % shifts().size();
    }
    if (!e.newHire) {
        QRandomGenerator absences = generatorFor(index, AbsenceStream);
        planAbsences(e, absences);
    }
    return e;
}

// Periods of consecutive working days; a later period does not overwrite an earlier one.
void DemoPlan::planAbsences(DemoEmployee &employee, QRandomGenerator &random) const
{
    if (m_workDays.isEmpty())
        return;
    const auto addPeriod = [&](DemoAbsence absence, int minDays, int maxDays) {
        const int first = random.bounded(m_workDays.size());
        const int length = minDays + random.bounded(maxDays - minDays + 1);
        for (int i = first; i < std::min<int>(first + length, m_workDays.size()); ++i) {
            if (!employee.absences.contains(m_workDays.at(i)))
                employee.absences.insert(m_workDays.at(i), absence);
        }
    };
    if (random.bounded(100) < vacationPercent)
        addPeriod(DemoAbsence::Vacation, 3, 8);
    for (int month = 0; month < std::max(1, m_options.months); ++month) {
        if (random.bounded(100) < sickPerMonthPercent)
            addPeriod(DemoAbsence::Sick, 1, 5);
        if (random.bounded(100) < tripPerMonthPercent)
            addPeriod(DemoAbsence::Trip, 1, 3);
        if (random.bounded(100) < dayOffPerMonthPercent)
            addPeriod(DemoAbsence::DayOff, 1, 1);
    }
}

QByteArray DemoPlan::picture(const DemoEmployee &employee) const
{
    const DemoPicture::Hair hair = employee.female ? DemoPicture::Hair::Long : DemoPicture::Hair::Short;
    QRandomGenerator random = generatorFor(employee.index % distinctPictures, PictureStream + quint32(hair));
    return DemoPicture::make(random, hair);
}

QVector<DemoRegistration> DemoPlan::registrations(const DemoEmployee &employee) const
{
    QVector<DemoRegistration> out;
    if (employee.newHire)
        return out;
    QRandomGenerator random = generatorFor(employee.index, TimeStream);
    for (int i = 0; i < m_workDays.size(); ++i) {
        const QDate day = m_workDays.at(i);
        const auto absence = employee.absences.constFind(day);
        if (absence != employee.absences.constEnd()) {
            const auto previous = i > 0 ? employee.absences.constFind(m_workDays.at(i - 1)) : employee.absences.constEnd();
            const bool continues = previous != employee.absences.constEnd() && *previous == *absence;
            if (!continues)
                addFirstAbsenceDay(employee, day, *absence, random, &out);
            continue;
        }
        if (day == m_now.date() && employee.missingToday)
            continue;
        addWorkingDay(employee, day, random, &out);
    }
    // Nothing from the future of the demo's own now.
    while (!out.isEmpty() && out.last().at > m_now)
        out.removeLast();
    return out;
}

void DemoPlan::addWorkingDay(const DemoEmployee &employee, const QDate &day, QRandomGenerator &random,
                             QVector<DemoRegistration> *out) const
{
    const DemoShift &shift = shifts().at(employee.shiftOn(day));
    const int start = shift.startHour * 60;
    const int arrival = start - 20 + random.bounded(35);
    out->append({at(day, arrival), DemoActivity::Arrival});
    if (shift.hasBreak && random.bounded(100) < 85) {
        const int breakStart = start + 210 + random.bounded(60);
        out->append({at(day, breakStart), DemoActivity::BreakStart});
        out->append({at(day, breakStart + 20 + random.bounded(20)), DemoActivity::BreakEnd});
    }
    // A late shift can end at midnight; the departure then stays on the same day.
    const int departure = std::min(shift.endHour * 60 + random.bounded(30), 24 * 60 - 1);
    out->append({at(day, departure), DemoActivity::Departure});
}

// An absence is registered once, on its first day; the following days need no registration.
void DemoPlan::addFirstAbsenceDay(const DemoEmployee &employee, const QDate &day, DemoAbsence absence,
                                  QRandomGenerator &random, QVector<DemoRegistration> *out) const
{
    const int start = shifts().at(employee.shiftOn(day)).startHour * 60;
    switch (absence) {
    case DemoAbsence::Sick:
        out->append({at(day, start - 30 + random.bounded(30)), DemoActivity::SickLeave});
        break;
    case DemoAbsence::Vacation:
        out->append({at(day, start - 60), DemoActivity::Vacation});
        break;
    case DemoAbsence::Trip:
        out->append({at(day, start - 15 + random.bounded(20)), DemoActivity::Arrival});
        out->append({at(day, start + 60 + random.bounded(90)), DemoActivity::OfficialLeave});
        break;
    case DemoAbsence::DayOff:
        break;
    }
}

} // namespace vorna::service
