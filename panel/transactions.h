#pragma once

#include "panel/engine.h"
#include "panel/panel.h"

// The window's two commands: each reads its row's fields and the selectors, converts them by the
// number rules, runs the engine and shows the outcome. The button is greyed while it runs.

// Reads the station field of the row and writes the normalised number back. Nothing, leaving
// the field as typed, when its text names no station.
std::optional<std::uint8_t> NormaliseStation(Panel& panel, Row row);

// Reads one register and shows its value, "Noans", "CRCErr", "CMDErr" or "PortErr".
void ReadTransaction(Panel& panel, Line& line);
// Writes one holding register; the reply is not read and nothing is shown but "PortErr".
void WriteTransaction(Panel& panel, Line& line);
