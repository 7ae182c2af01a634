#include "modbus/frame_splitter.h"

#include <algorithm>
#include <limits>

namespace {

constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
// Above 19200 bit/s the silence between frames is fixed rather than 3.5 characters.
constexpr int kFixedSilenceAbove = 19200;
constexpr double kFixedSilence = 0.00175;
// How long the line must stay quiet before bytes that wait for more are settled: USB adapters
// hold received bytes back for up to 16 ms (FTDI's latency timer), and a settled frame cut in two
// by such a hold would be lost as noise.
constexpr double kQuiet = 0.05;

PieceKind NoiseKind(std::span<const std::uint8_t> bytes, bool parity)
{
    if (parity && std::find(bytes.begin(), bytes.end(), '?') != bytes.end())
        return PieceKind::ParityError;
    const FrameLengths f = PossibleLengths(bytes);
    if (bytes.size() < f.Shortest())
        return PieceKind::CutShort;
    if (f.end == FrameEnd::Silence)
        return PieceKind::Noise;
    const auto all = f.Lengths();
    if (f.end == FrameEnd::Length && !all.empty() &&
        bytes.size() > *std::max_element(all.begin(), all.end()))
        return PieceKind::Noise;
    return PieceKind::WrongCrc;
}

} // namespace

FrameSplitter::FrameSplitter(int baud, bool parity) : m_parity(parity)
{
    // A character: start bit, 8 data bits, the parity bit if any, a stop bit.
    const double bits = parity ? 11 : 10;
    const int speed = baud > 0 ? baud : 19200;
    m_character = bits / speed;
    m_silence = speed > kFixedSilenceAbove ? kFixedSilence : 3.5 * m_character;
}

void FrameSplitter::Push(std::span<const std::uint8_t> bytes, double time, std::vector<Piece>& out)
{
    if (bytes.empty())
        return;
    // The chunk's bytes took their time on the line before it came; what is left of the time since
    // the last chunk was silence. Coarse times make this negative: no silence, no verdict.
    const double gap = m_any ? time - m_lastTime - static_cast<double>(bytes.size()) * m_character
                             : std::numeric_limits<double>::infinity();
    m_chunks.emplace_back(m_bytes.size(), gap);
    m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
    m_times.insert(m_times.end(), bytes.size(), time);
    m_any = true;
    m_lastTime = time;
    Cut(false, out);
}

void FrameSplitter::Idle(double now, std::vector<Piece>& out)
{
    if (m_noiseFrom == m_bytes.size() || now - m_lastTime < std::max(m_silence, kQuiet))
        return;
    Cut(true, out);
}

void FrameSplitter::Finish(std::vector<Piece>& out)
{
    Cut(true, out);
}

std::size_t FrameSplitter::SegmentEnd() const
{
    for (const auto& [at, gap] : m_chunks)
        if (at > m_head && gap >= m_silence)
            return at;
    return kNone;
}

std::size_t FrameSplitter::FrameAt(std::size_t segment, bool settle, bool& more) const
{
    const std::size_t held = m_bytes.size() - m_head;
    const auto head = std::span(m_bytes).subspan(m_head, std::min(held, kMostFrame));
    // The length up to the silence after the head, where one is known.
    const std::size_t limit = segment != kNone ? segment - m_head : settle ? held : kNone;
    const FrameLengths f = PossibleLengths(head);
    // A frame whose CRC ends in 00 has a good CRC one byte short of its end as well: of two good
    // lengths the longer is the frame, unless a silence tells otherwise.
    std::size_t best = 0;
    for (const std::size_t n : f.Lengths()) {
        if (n > head.size())
            more = true;
        else if (HasGoodCrc(head.first(n)) && best != limit && (n == limit || n > best))
            best = n;
    }
    if (best && best != limit && !settle) {
        const auto all = f.Lengths();
        if (std::find(all.begin(), all.end(), best + 1) != all.end() && best + 1 > head.size()) {
            more = true; // the next byte may be the 00 that ends a longer one
            return 0;
        }
    }
    if (best)
        return best;
    if (f.header > head.size())
        more = true;
    const std::size_t most = std::min(head.size(), limit);
    // Only up to a silence: over a stream without any, a good CRC at some length up to 256 is
    // too likely by chance (1 in 260), and would swallow the frames after it.
    if (f.end == FrameEnd::Search && limit != kNone) {
        for (std::size_t n = kLeastFrame; n <= most; ++n) {
            if (!HasGoodCrc(head.first(n)))
                continue;
            return n < most && HasGoodCrc(head.first(n + 1)) ? n + 1 : n;
        }
    }
    if (f.end == FrameEnd::Silence && limit != kNone && limit >= kLeastFrame &&
        limit <= head.size() && HasGoodCrc(head.first(limit)))
        return limit;
    // Search and silence frames wait for the silence after them, up to a frame's worth.
    if (f.end != FrameEnd::Length && limit == kNone && head.size() < kMostFrame)
        more = true;
    return 0;
}

void FrameSplitter::Cut(bool settle, std::vector<Piece>& out)
{
    while (m_head < m_bytes.size()) {
        bool more = false;
        const std::size_t n = FrameAt(SegmentEnd(), settle, more);
        if (n > 0) {
            const bool afterFrame = m_lastWasFrame && m_noiseFrom == m_head;
            FlushNoise(out);
            Piece frame = Take(PieceKind::Frame, m_head, m_head + n);
            // Bytes in a chunk of their own, timed no faster than the line carries them, yet
            // less than a silence after the frame before: the times are fine enough to tell.
            const auto chunk = std::find_if(m_chunks.begin(), m_chunks.end(),
                                            [&](const auto& c) { return c.first == m_head; });
            frame.runTogether = afterFrame && chunk != m_chunks.end() &&
                                chunk->second >= -m_character && chunk->second < m_silence;
            out.push_back(std::move(frame));
            m_head += n;
            m_noiseFrom = m_head;
            m_lastWasFrame = true;
            continue;
        }
        if (more && !settle)
            break;
        AddNoise(m_head, out);
    }
    if (settle)
        FlushNoise(out);
    if (m_noiseFrom > 0) {
        const auto drop = static_cast<std::ptrdiff_t>(m_noiseFrom);
        m_bytes.erase(m_bytes.begin(), m_bytes.begin() + drop);
        m_times.erase(m_times.begin(), m_times.begin() + drop);
        std::erase_if(m_chunks, [&](const auto& c) { return c.first < m_noiseFrom; });
        for (auto& c : m_chunks)
            c.first -= m_noiseFrom;
        m_head -= m_noiseFrom;
        m_noiseFrom = 0;
    }
}

// The byte at m_head begins no frame: it joins the noise, which ends at a silence or once it is
// a frame's worth long.
void FrameSplitter::AddNoise(std::size_t at, std::vector<Piece>& out)
{
    m_head = at + 1;
    const bool silenceNext = std::any_of(m_chunks.begin(), m_chunks.end(), [&](const auto& c) {
        return c.first == m_head && c.second >= m_silence;
    });
    if (silenceNext || m_head - m_noiseFrom >= kMostFrame)
        FlushNoise(out);
}

void FrameSplitter::FlushNoise(std::vector<Piece>& out)
{
    if (m_noiseFrom == m_head)
        return;
    Piece noise = Take(PieceKind::Noise, m_noiseFrom, m_head);
    noise.kind = NoiseKind(noise.bytes, m_parity);
    out.push_back(std::move(noise));
    m_noiseFrom = m_head;
    m_lastWasFrame = false;
}

Piece FrameSplitter::Take(PieceKind kind, std::size_t from, std::size_t to) const
{
    Piece piece;
    piece.kind = kind;
    piece.bytes.assign(m_bytes.begin() + static_cast<std::ptrdiff_t>(from),
                       m_bytes.begin() + static_cast<std::ptrdiff_t>(to));
    piece.first = m_times[from];
    piece.last = m_times[to - 1];
    return piece;
}

const char* PieceKindText(PieceKind kind)
{
    switch (kind) {
    case PieceKind::Frame:
        return "frame";
    case PieceKind::WrongCrc:
        return "wrong CRC";
    case PieceKind::CutShort:
        return "cut short";
    case PieceKind::ParityError:
        return "parity error";
    case PieceKind::Noise:
        return "no frame";
    }
    return "";
}
