#pragma once
// Storage lookups answer "nothing" both for a missing row and for a failed query. A miss is
// therefore checked: when the database does not answer, the caller reports it as unavailable;
// when it does, the lookup is asked once more, since the first query after a database restart
// can fail on the dropped connection.

#include "storage.h"

namespace vorna::service {

// A migrated database always reports its schema version.
bool databaseAnswers(Storage &storage);
StorageError databaseUnavailable();

template<typename T>
bool found(const std::optional<T> &value) { return value.has_value(); }
template<typename T>
bool found(const QVector<T> &list) { return !list.isEmpty(); }

// Runs `find` (returning a std::optional or a QVector); `*unavailable` tells a down database
// from a miss or an empty list.
template<typename Find>
auto lookUp(Storage &storage, Find find, bool *unavailable) -> decltype(find())
{
    *unavailable = false;
    auto result = find();
    if (found(result))
        return result;
    if (!databaseAnswers(storage)) {
        *unavailable = true;
        return result;
    }
    return find();
}

} // namespace vorna::service
