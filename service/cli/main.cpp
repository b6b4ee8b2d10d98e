// vorna-service: the attendance service and its admin commands (vorna-service --help).

#include "cli/commandline.h"
#include "sessions/passwordhasher.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vorna-service"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VORNA_VERSION));
    if (!vorna::service::PasswordHasher::initializeSodium()) {
        std::fputs("Cannot start libsodium (no source of random numbers). Check that /dev/urandom is readable.\n", stderr);
        return vorna::service::ExitFailed;
    }
    return vorna::service::CommandLine().run(QCoreApplication::arguments());
}
