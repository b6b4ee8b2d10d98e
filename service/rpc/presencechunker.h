#pragma once
// Packs presence rows into PresenceChunk messages of at most ~256 KB or 200 rows, in the
// order they come, so the per-message cost stays low and no message grows without bound.
// Used push-wise: the caller feeds rows and the chunker hands each full chunk to `send`.

#include "commservice.pb.h"
#include "storage/storage.h"

#include <functional>

namespace vorna::service {

class PresenceChunker
{
public:
    // Sends one chunk; false when the stream is gone. The sender may take the chunk's
    // contents (swap them out); the chunker clears it afterwards either way.
    using Send = std::function<bool(v1::PresenceChunk &)>;

    static constexpr int MaxRows = 200;
    static constexpr size_t MaxBytes = 256 * 1024;

    explicit PresenceChunker(Send send, int maxRows = MaxRows, size_t maxBytes = MaxBytes);

    // Adds a row, sending the chunk when it is full; false once a send failed.
    bool add(const PresenceRow &row);
    // Sends what is left; false when that send failed.
    bool finish();

    int rowsSent() const { return m_rowsSent; }
    int chunksSent() const { return m_chunksSent; }

private:
    bool flush();

    const Send m_send;
    const int m_maxRows;
    const size_t m_maxBytes;
    v1::PresenceChunk m_chunk;
    size_t m_bytes = 0;
    int m_rowsSent = 0;
    int m_chunksSent = 0;
    bool m_failed = false;
};

} // namespace vorna::service
