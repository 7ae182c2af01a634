#pragma once

#include "modbus/reply_times.h"

#include "modbus/frame_splitter.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

// A conversation overheard on a line: each request paired with the reply that follows it, and
// what fits no exchange shown for what it is.
enum class Heard {
    Reply,      // a request and its answer
    Exception,  // a request and the exception it got
    OtherReply, // a request, and a correct frame from its station for its function that does not
                // answer it (another count or address)
    NoAnswer,   // a request and nothing, up to the next frame or a second of quiet
    Ended,      // a request whose reply the end of listening cut off
    Broadcast,  // a request to station 0, which nobody answers
    Garbled,    // a request, and bytes where its reply belongs that make no frame
    NoRequest,  // a correct frame that is no request, with no request before it
    Noise,      // bytes that make no frame, with no request before them
};

struct Overheard
{
    Heard heard = Heard::Noise;
    std::optional<Piece> request;
    // The reply, or the bytes in its place (Garbled, NoRequest, Noise).
    std::optional<Piece> reply;
    // Bytes that make no frame between the request and its reply.
    std::optional<Piece> stray;

    // When it began: the request's first byte, or the reply's.
    double Time() const;
    // From the request's last byte to the reply's last byte, as received.
    std::optional<double> ReplySeconds() const;
    // The station of the request, or of the reply; nothing for noise.
    std::optional<std::uint8_t> Station() const;
};

class Conversation
{
public:
    // How long a request waits for its reply when nothing else comes: longer than the masters'
    // usual time-outs (0.5 to 1 s), so that the next request usually closes it first.
    static constexpr double kNoAnswerSeconds = 1.0;

    // The next piece of the line; the exchanges it completes are appended to `out`.
    void Take(Piece piece, std::vector<Overheard>& out);
    // Nothing more came until `now`: a request left unanswered too long is closed.
    void Idle(double now, std::vector<Overheard>& out);
    // Closes what is open: listening ends.
    void Finish(std::vector<Overheard>& out);

private:
    void Close(std::vector<Overheard>& out, Heard unanswered = Heard::NoAnswer);

    std::optional<Piece> m_request;
    std::optional<Piece> m_garbled;
};

struct StationTally
{
    std::size_t requests = 0;
    std::size_t replies = 0; // correct ones, exceptions included
    std::size_t noAnswer = 0;
    std::size_t wrongCrc = 0; // replies that came but make no frame
    std::size_t exceptions = 0;
    ReplyTimes times;
};

// What a listener counts over a whole conversation.
struct Tally
{
    std::map<std::uint8_t, StationTally> stations;
    std::size_t noRequest = 0;
    std::size_t noisePieces = 0;
    std::size_t noiseBytes = 0;

    void Count(const Overheard& exchange);
};
