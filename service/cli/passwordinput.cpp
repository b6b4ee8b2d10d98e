#include "cli/passwordinput.h"

#include <termios.h>
#include <unistd.h>

namespace vorna::service {

namespace {

QByteArray readRawLine(FILE *in)
{
    QByteArray line;
    int c = 0;
    while ((c = std::fgetc(in)) != EOF && c != '\n')
        line += char(c);
    if (line.endsWith('\r'))
        line.chop(1);
    return line;
}

// Turns terminal echo off for as long as it lives.
class EchoOff
{
public:
    EchoOff()
    {
        m_active = tcgetattr(STDIN_FILENO, &m_saved) == 0;
        if (!m_active)
            return;
        termios quiet = m_saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    ~EchoOff()
    {
        if (m_active)
            tcsetattr(STDIN_FILENO, TCSAFLUSH, &m_saved);
    }

private:
    termios m_saved{};
    bool m_active = false;
};

QByteArray prompt(const char *text)
{
    std::fputs(text, stderr);
    std::fflush(stderr);
    QByteArray answer;
    {
        EchoOff echoOff;
        answer = readRawLine(stdin);
    }
    std::fputs("\n", stderr);
    return answer;
}

} // namespace

bool PasswordInput::readLine(FILE *in, QByteArray *password, QString *error)
{
    *password = readRawLine(in);
    *error = check(*password);
    return error->isEmpty();
}

bool PasswordInput::askTwice(QByteArray *password, QString *error)
{
    if (isatty(STDIN_FILENO) != 1) {
        *error = QStringLiteral("There is no terminal to ask for the password on. Pipe the password "
                                "in and add --password-stdin.");
        return false;
    }
    const QByteArray first = prompt("Password: ");
    *error = check(first);
    if (!error->isEmpty())
        return false;
    if (prompt("Repeat the password: ") != first) {
        *error = QStringLiteral("The two passwords differ. Run the command again and type the same password twice.");
        return false;
    }
    *password = first;
    return true;
}

QString PasswordInput::check(const QByteArray &password)
{
    // Counted in characters, not UTF-8 bytes.
    if (QString::fromUtf8(password).size() >= MinLength)
        return {};
    if (password.isEmpty())
        return QStringLiteral("The password is empty. Give a password of at least %1 characters.").arg(MinLength);
    return QStringLiteral("The password is too short. Give a password of at least %1 characters.").arg(MinLength);
}

} // namespace vorna::service
