#include "platform.h"

// The build defines VORNA_PLATFORM_TYPE for its target (see app/CMakeLists.txt).
#ifndef VORNA_PLATFORM_TYPE
#  error "VORNA_PLATFORM_TYPE must be defined by the build: 1 for Android, 0 otherwise."
#endif

Platform::Platform(QObject *parent)
    : QObject(parent)
{
}

int Platform::type() const
{
    return VORNA_PLATFORM_TYPE;
}
