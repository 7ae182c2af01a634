#pragma once

#include "modbus/frames.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

// What a line carried, cut into pieces: frames with a good CRC, and the bytes between them that
// make none, with the reason.
enum class PieceKind {
    Frame,
    WrongCrc,    // the length of a frame of its function, but not its CRC
    CutShort,    // fewer bytes than the shortest frame of its function
    ParityError, // no frame, and a byte among them came with a parity error ('?')
    Noise,       // longer than any frame its first bytes could begin, or of no function known
};

struct Piece
{
    PieceKind kind = PieceKind::Frame;
    Bytes bytes;
    // When its first and last bytes came: the times of the chunks that brought them.
    double first = 0;
    double last = 0;
    // A frame that followed another without the silence between frames, where the times show it.
    bool runTogether = false;
};

// Cuts a stream of received chunks into pieces. A silence of 3.5 characters between chunks (1.75
// ms above 19200 bit/s) ends a frame, and the CRC confirms it; where the times are too coarse to
// show silences (a pseudo-terminal, a USB adapter's latency) a frame is found by the length its
// function gives and its CRC, and a good CRC across a silence wins over the silence, which a late
// read can fake. Every byte pushed ends up in exactly one piece, in order. It holds at most a
// frame's worth of bytes beyond the chunk being cut, whatever comes.
class FrameSplitter
{
public:
    FrameSplitter(int baud, bool parity);

    // Bytes that came together at `time` (seconds, on a steady clock); the pieces they complete
    // are appended to `out`.
    void Push(std::span<const std::uint8_t> bytes, double time, std::vector<Piece>& out);
    // Nothing more came until `now`: what waited for more is settled once the line has been quiet
    // long enough that no adapter still holds bytes of it.
    void Idle(double now, std::vector<Piece>& out);
    // Settles everything held.
    void Finish(std::vector<Piece>& out);

    // One character and 3.5 characters of the line, in seconds.
    double Character() const { return m_character; }
    double Silence() const { return m_silence; }

private:
    // Cuts what it can; with `settle`, everything.
    void Cut(bool settle, std::vector<Piece>& out);
    // The length of a frame at m_head, 0 for none; `more`: one may come with more bytes.
    std::size_t FrameAt(std::size_t segment, bool settle, bool& more) const;
    std::size_t SegmentEnd() const;
    void AddNoise(std::size_t at, std::vector<Piece>& out);
    void FlushNoise(std::vector<Piece>& out);
    Piece Take(PieceKind kind, std::size_t from, std::size_t to) const;

    double m_character;
    double m_silence;
    bool m_parity;
    Bytes m_bytes;               // held, from m_head on
    std::vector<double> m_times; // each held byte's chunk time
    // Where a chunk began among the held bytes, with the silence before it (the time since the
    // last chunk less the time its own bytes took on the line).
    std::vector<std::pair<std::size_t, double>> m_chunks;
    std::size_t m_head = 0;
    std::size_t m_noiseFrom = 0; // noise gathered from here up to m_head
    bool m_any = false;
    double m_lastTime = 0;
    bool m_lastWasFrame = false;
};

// A piece's kind as the operator reads it: "wrong CRC", "cut short", "parity error", "no frame".
const char* PieceKindText(PieceKind kind);
