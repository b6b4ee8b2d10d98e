#pragma once
// Exit codes of every vorna-service command; docs/service.md lists them for operators.

namespace vorna::service {

enum ExitCode {
    ExitOk = 0,          // the command did what was asked
    ExitFailed = 1,      // it could not (the user exists, the name is unknown, a write failed ...)
    ExitUsage = 2,       // the command line is wrong: unknown command or option, bad value
    ExitDatabase = 3,    // the database cannot be opened, is not initialised or is unreachable
    ExitListen = 4       // serve: the listen address or the TLS files cannot be used
};

} // namespace vorna::service
