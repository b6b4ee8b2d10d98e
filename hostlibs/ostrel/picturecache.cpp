#include "picturecache.h"

#include <iterator>

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
    ++m_answer;
}

QByteArray PictureCache::resolve(const std::string &digest, const std::string &bytes)
{
    if (digest.empty())
        return QByteArray(bytes.data(), int(bytes.size()));
    if (!bytes.empty()) {
        const QByteArray picture(bytes.data(), int(bytes.size()));
        m_held.insert(QByteArray(digest.data(), int(digest.size())), Held{picture, m_answer});
        return picture;
    }
    // Looked up without a copy of the digest.
    const auto held = m_held.find(QByteArray::fromRawData(digest.data(), int(digest.size())));
    if (held == m_held.end())
        return QByteArray();
    held->answer = m_answer;
    return held->picture;
}

void PictureCache::finishAnswer(bool complete)
{
    // An interrupted answer keeps everything: what it did not reach may come back next time.
    if (!complete)
        return;
    for (auto it = m_held.begin(); it != m_held.end();)
        it = it->answer == m_answer ? std::next(it) : m_held.erase(it);
}

} // namespace ostrel
