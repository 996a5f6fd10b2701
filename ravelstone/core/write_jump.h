// Sends a game code site to plug-in code with a 5-byte relative jump.
#pragma once

#include <cstdint>

namespace ravelstone {

// Writes E9 and the displacement handler - (site + 5) at site, at once (not at a hook
// commit), never undone. The opcode and the displacement are written in two rounds, each
// making its bytes writable and restoring the protection afterwards.
void WriteJump(std::uintptr_t site, const void* handler);

} // namespace ravelstone
