#pragma once
// What the stores share about one employee: the row key behind the employee's text id, and
// the department that decides who may see the employee.

#include "storage/sqlexecutor.h"

namespace vorna::service {

struct EmployeeKey
{
    qint64 id = 0;
    qint64 departmentId = 0;
};

StorageError noEmployee(const QString &code);
Result<EmployeeKey> lookUpEmployee(Transaction &tx, const QString &code);

// Calls `progress` when there is one.
void report(const Progress &progress, const QString &phase, qint64 done, qint64 total);

} // namespace vorna::service
