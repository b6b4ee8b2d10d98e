#include "picturecache.h"

namespace ostrel {

std::vector<std::string> PictureCache::digests() const
{
    std::vector<std::string> out;
    out.reserve(m_held.size());
    for (auto it = m_held.cbegin(); it != m_held.cend(); ++it)
        out.emplace_back(it.key().constData(), it.key().size());
    return out;
}

void PictureCache::beginAnswer()
{
    m_seen.clear();
    // An answer usually shows the same people again: no rehashing while it streams.
    m_seen.reserve(m_held.size());
}

QByteArray PictureCache::resolve(const std::string &digest, const std::string &bytes)
{
    if (digest.empty())
        return QByteArray(bytes.data(), int(bytes.size()));
    if (!bytes.empty()) {
        const QByteArray picture(bytes.data(), int(bytes.size()));
        m_seen.insert(QByteArray(digest.data(), int(digest.size())), picture);
        return picture;
    }
    // Looked up without a copy of the digest; a held picture moves on with its stored key.
    const QByteArray key = QByteArray::fromRawData(digest.data(), int(digest.size()));
    const auto seen = m_seen.constFind(key);
    if (seen != m_seen.constEnd())
        return seen.value();
    const auto held = m_held.constFind(key);
    if (held == m_held.constEnd())
        return QByteArray();
    m_seen.insert(held.key(), held.value());
    return held.value();
}

void PictureCache::finishAnswer(bool complete)
{
    if (complete) {
        m_held.swap(m_seen);
    } else {
        for (auto it = m_seen.cbegin(); it != m_seen.cend(); ++it)
            m_held.insert(it.key(), it.value());
    }
    m_seen.clear();
}

} // namespace ostrel
