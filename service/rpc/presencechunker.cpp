#include "rpc/presencechunker.h"

#include "rpc/wireconvert.h"

namespace vorna::service {

PresenceChunker::PresenceChunker(Send send, int maxRows, size_t maxBytes)
    : m_send(std::move(send))
    , m_maxRows(maxRows)
    , m_maxBytes(maxBytes)
{
}

bool PresenceChunker::add(const PresenceRow &row)
{
    if (m_failed)
        return false;
    v1::PresenceRow *out = m_chunk.add_rows();
    wire::toWire(row, out);
    m_bytes += out->ByteSizeLong();
    if (m_chunk.rows_size() >= m_maxRows || m_bytes >= m_maxBytes)
        return flush();
    return true;
}

bool PresenceChunker::finish()
{
    if (m_failed)
        return false;
    return m_chunk.rows_size() == 0 || flush();
}

bool PresenceChunker::flush()
{
    const int rows = m_chunk.rows_size();
    m_failed = !m_send(m_chunk);
    if (!m_failed) {
        m_rowsSent += rows;
        ++m_chunksSent;
    }
    m_chunk.Clear();
    m_bytes = 0;
    return !m_failed;
}

} // namespace vorna::service
