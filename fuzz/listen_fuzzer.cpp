// What a listener makes of any line: the splitter, the pairing, the decoding and the counts over
// any bytes at any times. Input: byte 0 picks the speed and parity; then chunks, each a length
// byte, a byte of time since the last chunk (in 0.1 ms; 255: a quiet second) and that many bytes.
//
// Holds when: every byte lands in exactly one piece, in order; no piece is longer than a frame;
// each frame's CRC is good; every piece lands in exactly one exchange; and nothing reads outside
// the bytes it was given (each piece is a vector of exactly its size).
#include "modbus/conversation.h"
#include "oracle.h"

#include <cstdint>
#include <span>
#include <vector>

namespace {

std::size_t Said(const Overheard& o)
{
    // What an exchange says, worked out in full; returns how many pieces it holds.
    std::size_t pieces = 0;
    if (o.request) {
        ++pieces;
        (void)ReadAsked(o.request->bytes).text.size();
        (void)FunctionName(o.request->bytes[1]);
    }
    if (o.reply) {
        ++pieces;
        if (o.request)
            (void)ReadAnswered(o.request->bytes, o.reply->bytes);
    }
    pieces += o.stray ? 1 : 0;
    (void)o.ReplySeconds();
    (void)o.Station();
    return pieces;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return -1;
    static constexpr int speeds[] = {9600, 19200, 38400};
    const bool parity = data[0] & 4;
    FrameSplitter splitter(speeds[data[0] % 3], parity);
    Conversation conversation;
    Tally tally;
    std::vector<Piece> pieces;
    std::vector<Overheard> heard;
    std::vector<std::uint8_t> pushed, cut;
    std::size_t taken = 0, held = 0;
    double time = 0;
    const auto drain = [&] {
        for (Piece& piece : pieces) {
            REQUIRE(!piece.bytes.empty() && piece.bytes.size() <= kMostFrame);
            REQUIRE(piece.kind != PieceKind::Frame ||
                    oracle::Crc(oracle::Bytes(piece.bytes.data(), piece.bytes.size())) == 0);
            cut.insert(cut.end(), piece.bytes.begin(), piece.bytes.end());
            ++taken;
            conversation.Take(std::move(piece), heard);
        }
        pieces.clear();
        conversation.Idle(time, heard);
        for (const Overheard& o : heard) {
            held += Said(o);
            tally.Count(o);
        }
        heard.clear();
    };
    for (std::size_t at = 1; at + 2 <= size;) {
        const std::size_t n = std::min<std::size_t>(data[at], size - at - 2);
        time += data[at + 1] == 255 ? 1.0 : data[at + 1] * 1e-4;
        const std::vector<std::uint8_t> chunk(data + at + 2, data + at + 2 + n);
        at += 2 + n;
        splitter.Idle(time, pieces);
        splitter.Push(chunk, time, pieces);
        pushed.insert(pushed.end(), chunk.begin(), chunk.end());
        drain();
    }
    splitter.Finish(pieces);
    drain();
    conversation.Finish(heard);
    drain();
    REQUIRE(cut == pushed);
    REQUIRE(held == taken);
    for (const auto& [station, t] : tally.stations)
        REQUIRE(t.replies + t.noAnswer + t.wrongCrc <= t.requests && t.times.Quantile(0.99) >= 0);

    // The decoding alone, over the raw bytes as though they were a frame.
    const std::vector<std::uint8_t> raw(data + 1, data + size);
    (void)PossibleLengths(raw);
    (void)IsRequestForm(raw);
    (void)ReadAsked(raw);
    (void)Answers(raw, raw);
    (void)ReadAnswered(raw, raw);
    return 0;
}
