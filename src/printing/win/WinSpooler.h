// The Spooler over winspool (Windows' print spooler) and GDI: printers,
// defaults and jobs through the wide-character winspool calls (text is
// UTF-8 on the Spooler side, UTF-16 at the boundary); image pages
// (kImagePageFormat, a 24-bit BMP) printed as a GDI job over the printable
// area; other files printed with the shell's "print" verb.
//
// File paths given to SubmitFile are the program's own (local code page),
// like every other file path of the agent on Windows.
//
// The winspool calls answer from the local spooler service and carry no
// deadline of their own; a stopped service fails them at once
// (RPC_S_SERVER_UNAVAILABLE: Unreachable).
#pragma once

#include <memory>

#include "printing/Spooler.h"

namespace quorvin {

std::shared_ptr<Spooler> MakeWinSpooler();

}  // namespace quorvin
