// Reading memory that may not be readable, without faulting.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ravelstone::detour {

// Copies size bytes from address when every page they touch is committed and readable.
bool SafeRead(std::uintptr_t address, void* out, std::size_t size);

} // namespace ravelstone::detour
