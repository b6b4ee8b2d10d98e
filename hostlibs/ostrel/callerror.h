#pragma once
// Sentences for failed calls. A status the service sent carries its own sentence (it is
// written for the user); a status the transport made up gets one of ours naming the address.
// gRPC's own texts never reach the user: they are mapped to a reason of ours, or to a general
// one when nothing in them is recognised.

#include <QString>

#include <grpcpp/support/status.h>

namespace ostrel {

// True when the service itself ended the call with this status. Codes that only a service
// gives count as its own; for codes that gRPC also makes up locally (UNAVAILABLE, INTERNAL ...)
// the message decides: the service writes sentences, gRPC's own texts are not.
bool sentByService(const grpc::Status &status);

// What went wrong on the way, in a few words of ours: "connection refused", "the host name is
// unknown" ...; recognised in the transport's own message, never the message itself.
QString transportReason(const grpc::Status &status);

// The text for a request that failed with `status`.
QString callFailureText(const grpc::Status &status, const QString &address, int timeoutMs);

// The text for a connect attempt that did not reach the service. `clientUsesTls` is the
// client's own setting: a TLS mismatch is named for the side that differs.
QString connectFailureText(const grpc::Status &status, const QString &address, int timeoutMs,
                           bool clientUsesTls);

// A message the service sent, made safe to show: control characters become spaces and an
// overlong text is cut.
QString serviceMessage(const std::string &message);

// The text for a login whose reply carried a session token that cannot be sent back.
QString unusableTokenText(const QString &address);
// The text for an answer ended because a message in it was malformed (`fault` says how).
QString malformedAnswerText(const QString &address, const QString &fault);

// The text for a request made while no session stands.
QString notConnectedText();
QString notLoggedInText();
// The text for an answer still missing when the session ended.
QString sessionEndedText();

} // namespace ostrel
