#pragma once

#include "panel/command.h"

#include <span>
#include <string>

// The line detail behind the result field: what a command sent, what came back, when, and what
// that means, in plain lines for the tooltip, the accessible description, a log and a terminal.

// Bytes in hex, "01 04 02"; after `limit` bytes " ..." (a babbling line would make an unreadable
// tooltip).
std::string Hex(std::span<const std::uint8_t> bytes, std::size_t limit = 64);
// What the result field shows for a reply: the value as " 42" or "-2", "Noans", "CRCErr",
// "CMDErr".
std::string ResultText(const ReplyOutcome& outcome);
// The same for a read the window cannot send (a block, bits): its first value, or "Noans",
// "CRCErr", "CMDErr", and "WrongReply" for a correct frame that does not answer the request.
std::string BlockResultText(const Outcome& outcome);
// Seconds as an operator writes them, "0.2".
std::string SecondsText(double seconds);

// A command that sent its request: the request, the bytes both ways, what they mean, when they
// came.
std::string Detail(const Command& command, const Outcome& outcome);
// The line of the detail that says what came back: "Value 42 (unsigned 42, hex 002A)", "The slave
// confirmed the write", "No reply within 0.2 s: ...", the port's failure.
std::string AnswerText(const Command& command, const Outcome& outcome);
std::string PortFailureDetail(CommandKind kind, const PortError& error);
std::string NothingSentDetail(CommandKind kind, const std::string& why);
// How the command's wait ended: "Whole reply after 14.2 ms", "No answer within 0.2 s", "Waited
// the whole 0.2 s".
std::string EndingText(const Command& command, const Outcome& outcome);
// A command tried more than once: "Tried 3 times".
std::string TriesText(int tries);
