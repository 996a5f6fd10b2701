#include "ravelstone/core/write_jump.h"

#include "host/host_code.h"
#include "host/relative_jump.h"

namespace ravelstone {

void WriteJump(std::uintptr_t site, const void* handler) {
    const auto jump = host::EncodeRelativeJump(static_cast<std::uint32_t>(site),
                                               reinterpret_cast<std::uintptr_t>(handler));
    // The opcode round makes the same 4 bytes writable as the displacement round that follows.
    host::WriteHostCode(site, &jump[0], 1, 4);
    host::WriteHostCode(site + 1, &jump[1], 4);
}

} // namespace ravelstone
