#include "connection.h"

#include "answercheck.h"

#include <grpcpp/create_channel.h>

#include <chrono>

namespace ostrel {

std::shared_ptr<Connection> Connection::open(const ServiceAddress &address, const ConnectionOptions &options,
                                             QString *error)
{
    const std::shared_ptr<grpc::ChannelCredentials> credentials = options.credentials(error);
    if (!credentials)
        return nullptr;
    auto channel = grpc::CreateCustomChannel(address.grpcTarget(), credentials, options.channelArguments());
    return std::shared_ptr<Connection>(new Connection(address, options, std::move(channel)));
}

Connection::Connection(const ServiceAddress &address, const ConnectionOptions &options,
                       std::shared_ptr<grpc::Channel> channel)
    : m_address(address)
    , m_options(options)
    , m_channel(std::move(channel))
    , m_stub(vorna::v1::CommService::NewStub(m_channel))
{
}

void Connection::close()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_closed = true;
    for (grpc::ClientContext *context : m_open)
        context->TryCancel();
}

bool Connection::track(grpc::ClientContext *context)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_closed)
        return false;
    m_open.insert(context);
    return true;
}

void Connection::untrack(grpc::ClientContext *context)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_open.erase(context);
}

Connection::Call::Call(Connection &connection, const std::string &sessionToken, int deadlineMs)
    : m_connection(connection)
{
    if (!sessionToken.empty())
        addSessionToken(m_context, sessionToken);
    if (deadlineMs > 0)
        m_context.set_deadline(std::chrono::system_clock::now() + std::chrono::milliseconds(deadlineMs));
    m_live = m_connection.track(&m_context);
}

void addSessionToken(grpc::ClientContext &context, const std::string &token)
{
    if (isUsableMetadataValue(token))
        context.AddMetadata(kSessionMetadataKey, token);
}

Connection::Call::~Call()
{
    if (m_live)
        m_connection.untrack(&m_context);
}

} // namespace ostrel
