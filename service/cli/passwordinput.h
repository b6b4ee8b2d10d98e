#pragma once
// Passwords for the admin commands: typed on the terminal without echo, or piped in with
// --password-stdin. Never taken from the command line, where `ps` would show them.

#include <QByteArray>
#include <QString>

#include <cstdio>

namespace vorna::service {

class PasswordInput
{
public:
    static constexpr int MinLength = 8;

    // One line from `in`, without its line end. False with a sentence in `error` when the
    // input is empty.
    static bool readLine(FILE *in, QByteArray *password, QString *error);
    // Asks twice on the terminal, without echo. False with a sentence in `error` when there is
    // no terminal or the two do not match.
    static bool askTwice(QByteArray *password, QString *error);
    // The length rule; an empty string when the password may be used.
    static QString check(const QByteArray &password);
};

} // namespace vorna::service
