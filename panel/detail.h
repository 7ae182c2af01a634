#pragma once

#include "modbus/frame_codec.h"
#include "panel/panel.h"
#include "serial/exchange.h"

#include <span>
#include <string>

// The line detail behind the result field: what a command sent, what came back and what that
// means, in plain lines for the tooltip, the accessible description and a terminal.

// Bytes in hex, "01 04 02"; after 64 bytes " ..." (a babbling line would make an unreadable
// tooltip).
std::string Hex(std::span<const std::uint8_t> bytes);
// What the result field shows for a reply: the value as " 42" or "-2", "Noans", "CRCErr",
// "CMDErr".
std::string ResultText(const ReplyOutcome& outcome);

// A read: its request, the bytes both ways and what they mean. `reply` is the counted bytes
// without an adapter's echo of the request.
std::string ReadDetail(const TxFrame& sent, const RxBytes& rx, std::span<const std::uint8_t> reply,
                       const ReplyOutcome& outcome, const RegisterRef& ref);
// A write: its request and value, and that the reply is not read.
std::string WriteDetail(const TxFrame& sent, const RegisterRef& ref);
std::string PortFailureDetail(Row kind, const PortError& error);
std::string NothingSentDetail(Row kind, const std::string& why);
