#include "storage/employeekey.h"

namespace vorna::service {

StorageError noEmployee(const QString &code)
{
    return {StorageError::NotFound, QStringLiteral("There is no employee with the id %1.").arg(quoted(code))};
}

Result<EmployeeKey> lookUpEmployee(Transaction &tx, const QString &code)
{
    return tx.row<EmployeeKey>(
        QStringLiteral("SELECT id, department_id FROM employees WHERE code = ?"), {code},
        [](const QSqlQuery &q) { return EmployeeKey{q.value(0).toLongLong(), q.value(1).toLongLong()}; },
        QStringLiteral("look up the employee %1").arg(quoted(code)), noEmployee(code));
}

void report(const Progress &progress, const QString &phase, qint64 done, qint64 total)
{
    if (progress)
        progress(phase, done, total);
}

} // namespace vorna::service
