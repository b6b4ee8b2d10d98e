#include "storagelookup.h"

namespace vorna::service {

bool databaseAnswers(Storage &storage)
{
    return storage.schemaVersion() > 0;
}

StorageError databaseUnavailable()
{
    return {StorageError::Unavailable, QStringLiteral("The database does not answer. Try again in a moment.")};
}

} // namespace vorna::service
