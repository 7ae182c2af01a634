#include "modbus/conversation.h"

#include <algorithm>
#include <cmath>

namespace {

Overheard Alone(Heard heard, Piece piece)
{
    Overheard exchange;
    exchange.heard = heard;
    exchange.reply = std::move(piece);
    return exchange;
}

} // namespace

double Overheard::Time() const
{
    return request ? request->first : reply ? reply->first : 0;
}

std::optional<double> Overheard::ReplySeconds() const
{
    if (!request || !reply || heard == Heard::NoRequest || heard == Heard::Noise)
        return std::nullopt;
    return reply->last - request->last;
}

std::optional<std::uint8_t> Overheard::Station() const
{
    if (request)
        return request->bytes[0];
    if (heard == Heard::NoRequest)
        return reply->bytes[0];
    return std::nullopt;
}

void Conversation::Take(Piece piece, std::vector<Overheard>& out)
{
    if (piece.kind != PieceKind::Frame) {
        // Where the reply belongs it is taken for a garbled reply, unless a correct one follows.
        if (m_request && !m_garbled) {
            m_garbled = std::move(piece);
            return;
        }
        Close(out);
        out.push_back(Alone(Heard::Noise, std::move(piece)));
        return;
    }
    if (m_request) {
        const Bytes& asked = m_request->bytes;
        const Bytes& frame = piece.bytes;
        const bool answers = Answers(asked, frame);
        // From the station asked, for its function, and no request itself: a wrong reply.
        const bool other = !answers && frame[0] == asked[0] && FunctionOf(frame) == asked[1] &&
                           !IsRequestForm(frame);
        if (answers || other) {
            Overheard exchange;
            exchange.heard = other                        ? Heard::OtherReply
                             : (frame[1] & kExceptionBit) ? Heard::Exception
                                                          : Heard::Reply;
            exchange.request = std::move(m_request);
            exchange.reply = std::move(piece);
            exchange.stray = std::move(m_garbled);
            m_request.reset();
            m_garbled.reset();
            out.push_back(std::move(exchange));
            return;
        }
        Close(out);
    }
    if (!IsRequestForm(piece.bytes)) {
        out.push_back(Alone(Heard::NoRequest, std::move(piece)));
    } else if (piece.bytes[0] == 0) {
        Overheard exchange;
        exchange.heard = Heard::Broadcast;
        exchange.request = std::move(piece);
        out.push_back(std::move(exchange));
    } else {
        m_request = std::move(piece);
    }
}

void Conversation::Idle(double now, std::vector<Overheard>& out)
{
    if (m_request && now - (m_garbled ? m_garbled->last : m_request->last) >= kNoAnswerSeconds)
        Close(out);
}

void Conversation::Finish(std::vector<Overheard>& out)
{
    // A reply may still have been on its way: no verdict on the station.
    Close(out, Heard::Ended);
}

void Conversation::Close(std::vector<Overheard>& out, Heard unanswered)
{
    if (!m_request)
        return;
    Overheard exchange;
    exchange.heard = m_garbled ? Heard::Garbled : unanswered;
    exchange.request = std::move(m_request);
    exchange.reply = std::move(m_garbled);
    m_request.reset();
    m_garbled.reset();
    out.push_back(std::move(exchange));
}

void Tally::Count(const Overheard& exchange)
{
    if (exchange.heard == Heard::Noise) {
        ++noisePieces;
        noiseBytes += exchange.reply->bytes.size();
        return;
    }
    if (exchange.heard == Heard::NoRequest) {
        ++noRequest;
        return;
    }
    if (exchange.stray) {
        ++noisePieces;
        noiseBytes += exchange.stray->bytes.size();
    }
    StationTally& station = stations[*exchange.Station()];
    ++station.requests;
    switch (exchange.heard) {
    case Heard::Exception:
        ++station.exceptions;
        [[fallthrough]];
    case Heard::Reply:
    case Heard::OtherReply:
        ++station.replies;
        station.times.Add(*exchange.ReplySeconds());
        break;
    case Heard::NoAnswer:
        ++station.noAnswer;
        break;
    case Heard::Garbled:
        ++station.wrongCrc;
        break;
    default:
        break;
    }
}
