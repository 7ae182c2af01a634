// Listening: byte streams with their times to pieces, pieces to exchanges, each function's frames
// to what they say, and the listener on a scripted port.
#include "fake_port.h"
#include "listen.h"
#include "modbus/conversation.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

namespace {

// "01 03 00 00 00 01 CRC": hex bytes, CRC the CRC of those since the last CRC or |, FF*600 repeats.
Bytes Wire(const std::string& text, std::size_t& frameStart, Bytes bytes = {})
{
    std::istringstream words(text);
    for (std::string w; words >> w;) {
        if (w == "|") {
            frameStart = bytes.size();
        } else if (w == "CRC") {
            const Crc crc = Crc16(std::span(bytes).subspan(frameStart));
            bytes.insert(bytes.end(), {crc.CrcLo, crc.CrcHi});
            frameStart = bytes.size();
        } else {
            const std::size_t star = w.find('*');
            const auto n = star == std::string::npos ? 1 : std::stoul(w.substr(star + 1));
            bytes.insert(bytes.end(), n,
                         static_cast<std::uint8_t>(std::stoul(w.substr(0, 2), nullptr, 16)));
        }
    }
    return bytes;
}

Bytes Wire(const std::string& text)
{
    std::size_t start = 0;
    return Wire(text, start);
}

const std::string R = "01 03 00 00 00 01 CRC"; // read 40001 at station 1
const std::string A = "01 03 02 00 2A CRC";    // its answer, 42
constexpr double kChar = 10.0 / 19200 * 1000;  // ms at 19200 8N1

struct Chunk
{
    std::string bytes;
    double ms;
    bool paced = false; // a byte at a time, at the line's pace
};

TEST(FrameSplitter, StreamsWithTheirTimesToPieces)
{
    const struct
    {
        const char* what;
        std::vector<Chunk> chunks;
        std::vector<std::string> pieces; // F frame, ! frame run together, W, C, P, N: see PieceKind
        bool parity = false;
    } cases[] = {
        // clang-format off
        {"byte by byte at the line's pace", {{R, 0, true}, {A, 10, true}}, {"F " + R, "F " + A}},
        {"both in one chunk, as a pseudo-terminal gives them", {{R + " " + A, 0}}, {"F " + R, "F " + A}},
        {"a reply 0.35 ms after the request's end", {{R, 0}, {A, 7 * kChar + 0.35}}, {"F " + R, "! " + A}},
        {"a reply faster than the line: coarse times", {{R, 0}, {A, 0.3}}, {"F " + R, "F " + A}},
        {"a late read inside a frame: the CRC wins", {{"01 03 00", 0}, {"00 00 01 CRC", 9}}, {"F " + R}},
        {"a stray byte before the reply", {{R, 0}, {"00 | " + A, 5}}, {"F " + R, "C 00", "F " + A}},
        {"a wrong CRC, then a silence", {{"01 03 02 00 2A 00 00", 0}, {"| " + R, 50}}, {"W 01 03 02 00 2A 00 00", "F " + R}},
        {"a reply cut short at the end", {{R, 0}, {"01 03 02", 5}}, {"F " + R, "C 01 03 02"}},
        {"a byte with a parity error", {{"01 03 02 3F 2A 00 00", 0}}, {"P 01 03 02 3F 2A 00 00"}, true},
        {"an exception", {{R + " 01 83 02 CRC", 0}}, {"F " + R, "F 01 83 02 CRC"}},
        {"a multiple write and its reply", {{"01 10 00 00 00 02 04 00 01 00 02 CRC 01 10 00 00 00 02 CRC", 0}},
         {"F 01 10 00 00 00 02 04 00 01 00 02 CRC", "F 01 10 00 00 00 02 CRC"}},
        {"diagnostics of any length", {{"01 08 00 00 12 34 56 CRC " + R, 0}}, {"F 01 08 00 00 12 34 56 CRC", "F " + R}},
        {"a function unknown here, ended by a silence", {{"01 41 01 02 CRC", 0}, {R, 20}},
         {"F 01 41 01 02 CRC", "F " + R}},
        {"the same without the silence", {{"01 41 01 02 CRC " + R, 0}}, {"N 01 41 01 02 CRC", "F " + R}},
        {"a babbling device", {{"FF*600", 0}}, {"N FF*256", "N FF*256", "N FF*88"}},
        {"a CRC ending in 00: one byte short is a good CRC too", {{"0E 03 00 A5 00 02 D4 D7 0E 03 04 39 2A B3 CA DD 00", 0, true}},
         {"F 0E 03 00 A5 00 02 D4 D7", "! 0E 03 04 39 2A B3 CA DD 00"}},
        // clang-format on
    };
    for (const auto& c : cases) {
        FrameSplitter splitter(19200, c.parity);
        std::vector<Piece> pieces;
        std::size_t start = 0, pushed = 0;
        Bytes all;
        for (const Chunk& chunk : c.chunks) {
            const std::size_t from = all.size();
            all = Wire(chunk.bytes, start, all);
            const auto bytes = std::span(all).subspan(from);
            for (std::size_t i = 0; i < bytes.size(); i += chunk.paced ? 1 : bytes.size())
                splitter.Push(bytes.subspan(i, chunk.paced ? 1 : bytes.size()),
                              (chunk.ms + (chunk.paced ? (i + 1) * kChar : 0)) / 1000, pieces);
            pushed += bytes.size();
        }
        splitter.Finish(pieces);
        ASSERT_EQ(pieces.size(), c.pieces.size()) << c.what;
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            const std::string& want = c.pieces[i];
            const char kind = "FWCPN"[static_cast<int>(pieces[i].kind)];
            EXPECT_EQ(pieces[i].runTogether ? '!' : kind, want[0]) << c.what << ", piece " << i;
            EXPECT_EQ(pieces[i].bytes, Wire(want.substr(2))) << c.what << ", piece " << i;
            pushed -= pieces[i].bytes.size();
        }
        EXPECT_EQ(pushed, 0u) << c.what << ": every byte in one piece";
    }
}

TEST(Frames, EachFunctionAskedAndAnswered)
{
    const struct
    {
        const char* request;
        const char* reply;
        const char* asked;
        const char* answered;
    } cases[] = {
        // clang-format off
        {"01 01 00 10 00 0A CRC", "01 01 02 0D 01 CRC", "read 00017-00026", "1 0 1 1 0 0 0 0 1 0"},
        {"01 02 00 00 00 03 CRC", "01 02 01 05 CRC", "read 10001-10003", "1 0 1"},
        {"01 03 27 0E 00 02 CRC", "01 03 04 00 01 FF FE CRC", "read 409999-410000", "1 -2"},
        {"01 04 00 01 00 01 CRC", "01 04 02 00 2A CRC", "read 30002", "42"},
        {"01 05 00 10 FF 00 CRC", "01 05 00 10 FF 00 CRC", "write 00017 = on", "confirmed"},
        {"01 05 00 10 12 34 CRC", "01 85 03 CRC", "write 00017 = hex 1234", "exception 03 Illegal data value"},
        {"01 06 00 04 FF F9 CRC", "01 06 00 04 FF F9 CRC", "write 40005 = -7", "confirmed"},
        {"01 0F 00 00 00 03 01 05 CRC", "01 0F 00 00 00 03 CRC", "write 00001-00003 = 1 0 1", "confirmed"},
        {"01 10 00 00 00 02 04 00 01 FF FF CRC", "01 10 00 00 00 02 CRC", "write 40001-40002 = 1 -1", "confirmed"},
        {"01 03 00 00 00 01 CRC", "01 83 0C CRC", "read 40001", "exception 0C"},
        {"01 03 FF FF 00 02 CRC", "01 83 02 CRC", "read 465536, count 2", "exception 02 Illegal data address"},
        {"01 03 00 00 00 00 CRC", "01 83 03 CRC", "read holding registers 00 00 00 00", "exception 03 Illegal data value"},
        {"01 08 00 00 12 34 CRC", "01 08 00 00 12 34 CRC", "diagnostics 00 00 12 34", "00 00 12 34"},
        {"01 11 CRC", "01 11 03 0A FF 00 CRC", "report server id", "03 0A FF 00"},
        {"01 2B 0E 01 00 CRC", "01 2B 0E 01 01 00 00 01 00 03 41 42 43 CRC", "device identification 0E 01 00",
         "0E 01 01 00 00 01 00 03 41 42 43"},
        {"01 41 01 02 CRC", "01 41 CRC", "function 65 01 02", "no data"},
        // clang-format on
    };
    for (const auto& c : cases) {
        const Bytes request = Wire(c.request), reply = Wire(c.reply);
        EXPECT_TRUE(IsRequestForm(request)) << c.request;
        EXPECT_EQ(ReadAsked(request).text, c.asked);
        EXPECT_TRUE(Answers(request, reply)) << c.request << " / " << c.reply;
        EXPECT_EQ(ReadAnswered(request, reply).text, c.answered) << c.request;
        // The splitter finds both back to back by their lengths alone, where the function tells.
        std::vector<Piece> pieces;
        FrameSplitter splitter(19200, false);
        splitter.Push(Wire(std::string(c.request) + " " + c.reply), 0, pieces);
        splitter.Finish(pieces);
        if (PossibleLengths(request).end != FrameEnd::Silence) {
            EXPECT_EQ(pieces.size(), 2u) << c.request;
        }
    }
}

TEST(Conversation, PiecesToExchanges)
{
    const struct
    {
        const char* what;
        std::vector<std::string> pieces; // frames, or W and the bytes of one that makes none
        std::vector<std::string> heard;  // each exchange's outcome and station
    } cases[] = {
        // clang-format off
        {"a read and its answer", {R, A}, {"reply 1"}},
        {"an absent station, then a read", {"09 03 00 00 00 01 CRC", R, A}, {"no_answer 9", "reply 1"}},
        {"an answer heard alone", {A}, {"no_request 1"}},
        {"stray bytes before the answer", {R, "W 00", A}, {"reply 1 stray"}},
        {"a garbled answer, then the next read", {R, "W 01 03 02 00 2A 00 00", R, A}, {"garbled 1", "reply 1"}},
        {"a broadcast", {"00 06 00 00 00 05 CRC"}, {"broadcast 0"}},
        {"the master asks again", {R, R, A}, {"no_answer 1", "reply 1"}},
        {"an answer for another count", {R, "01 03 04 00 01 00 02 CRC"}, {"other_reply 1"}},
        {"an exception", {R, "01 83 02 CRC"}, {"exception 1"}},
        {"another station's answer", {R, "02 03 02 00 2A CRC"}, {"no_answer 1", "no_request 2"}},
        {"noise alone", {"W 3F 3F"}, {"noise -"}},
        {"a read as listening ends", {R}, {"ended 1"}},
        // clang-format on
    };
    for (const auto& c : cases) {
        Conversation conversation;
        std::vector<Overheard> heard;
        for (const std::string& text : c.pieces) {
            Piece piece;
            if (text[0] == 'W')
                piece.kind = PieceKind::WrongCrc;
            piece.bytes = Wire(text[0] == 'W' ? text.substr(2) : text);
            conversation.Take(piece, heard);
        }
        conversation.Finish(heard);
        std::vector<std::string> got;
        const char* names[] = {"reply",     "exception", "other_reply", "no_answer", "ended",
                               "broadcast", "garbled",   "no_request",  "noise"};
        for (const Overheard& o : heard)
            got.push_back(std::string(names[static_cast<int>(o.heard)]) + " " +
                          (o.Station() ? std::to_string(*o.Station()) : "-") +
                          (o.stray ? " stray" : ""));
        EXPECT_EQ(got, c.heard) << c.what;
    }
}

TEST(Conversation, AnUnansweredRequestClosesAfterASecondOfQuiet)
{
    Conversation conversation;
    std::vector<Overheard> heard;
    Piece request{PieceKind::Frame, Wire(R), 10, 10};
    conversation.Take(request, heard);
    conversation.Idle(10.9, heard);
    EXPECT_TRUE(heard.empty());
    conversation.Idle(11.0, heard);
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0].heard, Heard::NoAnswer);

    ReplyTimes times;
    for (int ms = 1; ms <= 100; ++ms)
        times.Add(ms / 1000.0);
    EXPECT_NEAR(times.Quantile(0.5), 0.050, 0.0005);
    EXPECT_NEAR(times.Quantile(0.99), 0.099, 0.001);
}

// A port that plays a line: a read and its answer, then an exception, then it is unplugged or
// the listener is given up.
struct BusPort : FakePort
{
    bool unplugged = false;
    std::optional<Bytes> TakeAll() override
    {
        return unplugged ? std::nullopt : FakePort::TakeAll();
    }
};

std::string Contents(std::FILE* file)
{
    std::rewind(file);
    std::string text;
    for (int c; (c = std::fgetc(file)) != EOF;)
        text += static_cast<char>(c);
    std::fclose(file);
    return text;
}

TEST(Listen, NeverSendsAndEndsWithTheCounts)
{
    for (const bool unplug : {false, true}) {
        BusPort port;
        int pass = 0;
        double now = 0;
        WaitServices wait{[&] { return now; },
                          [&](double) {
                              now += 0.05;
                              if (++pass == 2)
                                  port.reply = Wire(R + " " + A);
                              if (pass == 30)
                                  port.reply = Wire("02 04 00 00 00 01 CRC 02 84 02 CRC");
                              port.unplugged = unplug && pass == 40;
                          },
                          [&] { return pass >= 40; }};
        Line line{port, wait};
        Options options;
        options.verb = Verb::Listen;
        options.command.device = "/dev/fake";
        std::FILE* out = std::tmpfile();
        std::FILE* err = std::tmpfile();
        ASSERT_TRUE(out && err);
        EXPECT_EQ(Listen(line, options, out, err), unplug ? kExitPortError : kExitOk);
        EXPECT_TRUE(port.sent.empty());
        const std::string text = Contents(out), summary = Contents(err);
        EXPECT_NE(text.find("station 1  read 40001  ->  42  0.0 ms"), std::string::npos) << text;
        EXPECT_NE(text.find("station 2  read 30001  ->  exception 02 Illegal data address"),
                  std::string::npos);
        EXPECT_NE(summary.find("      1         1        1          0          0           0"),
                  std::string::npos)
            << summary;
        EXPECT_EQ(summary.find("disconnected") != std::string::npos ||
                      summary.find("/dev/fake:") != std::string::npos,
                  unplug)
            << summary;
    }
}

} // namespace
