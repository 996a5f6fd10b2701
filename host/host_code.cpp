#include "host/host_code.h"

#include <cstring>

namespace host {

bool WriteHostCode(std::uintptr_t address, const void* bytes, std::size_t count,
                   std::size_t protectSize) {
    auto* target = reinterpret_cast<void*>(address);
    ScopedPageProtection writable(target, protectSize, PAGE_EXECUTE_READWRITE);
    if (!writable.changed()) {
        return false;
    }
    std::memcpy(target, bytes, count);
    return true;
}

} // namespace host
