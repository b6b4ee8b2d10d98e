#pragma once
// One connection to the service: the gRPC channel and stub for an address, and the calls open
// on it, so that closing the connection cancels them all at once.

#include "connectionoptions.h"
#include "serviceaddress.h"

#include "commservice.grpc.pb.h"

#include <grpcpp/client_context.h>

#include <memory>
#include <mutex>
#include <set>
#include <string>

namespace ostrel {

class Connection
{
public:
    // Null with `error` set when the options cannot be used (an unreadable CA file).
    static std::shared_ptr<Connection> open(const ServiceAddress &address, const ConnectionOptions &options,
                                            QString *error);

    vorna::v1::CommService::Stub &stub() { return *m_stub; }
    const ServiceAddress &address() const { return m_address; }
    const ConnectionOptions &options() const { return m_options; }

    // Cancels every open call and refuses to start new ones. Safe from any thread.
    void close();

    // The context of one call: the session token in the "vorna-session" metadata, a deadline
    // (none for deadlineMs 0), and cancellation when the connection closes.
    class Call
    {
    public:
        Call(Connection &connection, const std::string &sessionToken, int deadlineMs);
        ~Call();
        Call(const Call &) = delete;
        Call &operator=(const Call &) = delete;

        // False when the connection was closed before the call started: do not start it.
        bool live() const { return m_live; }
        grpc::ClientContext *context() { return &m_context; }

    private:
        Connection &m_connection;
        grpc::ClientContext m_context;
        bool m_live = false;
    };

private:
    Connection(const ServiceAddress &address, const ConnectionOptions &options,
               std::shared_ptr<grpc::Channel> channel);
    bool track(grpc::ClientContext *context);
    void untrack(grpc::ClientContext *context);

    ServiceAddress m_address;
    ConnectionOptions m_options;
    std::shared_ptr<grpc::Channel> m_channel;
    std::unique_ptr<vorna::v1::CommService::Stub> m_stub;
    std::mutex m_mutex;
    std::set<grpc::ClientContext *> m_open;
    bool m_closed = false;
};

// Metadata key of the session token.
inline constexpr char kSessionMetadataKey[] = "vorna-session";

// Puts the session token into the call's metadata. A token that is not plain printable ASCII
// is left out (gRPC would abort on it); the service then refuses the call as not logged in.
// Login already refuses such tokens, so this is only the last line of defence.
void addSessionToken(grpc::ClientContext &context, const std::string &token);

} // namespace ostrel
