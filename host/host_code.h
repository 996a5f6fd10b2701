// The one way into the game's code: make the bytes writable, write, restore the protection.
#pragma once

#include <cstddef>
#include <cstdint>

#include <windows.h>

namespace host {

// A temporary page protection, restored when it goes out of scope.
class ScopedPageProtection {
public:
    ScopedPageProtection(void* address, std::size_t size, DWORD protection) noexcept
        : address_(address), size_(size) {
        changed_ = VirtualProtect(address, size, protection, &old_) != FALSE;
    }
    ~ScopedPageProtection() {
        if (changed_) {
            DWORD ignored = 0;
            VirtualProtect(address_, size_, old_, &ignored);
        }
    }
    ScopedPageProtection(const ScopedPageProtection&) = delete;
    ScopedPageProtection& operator=(const ScopedPageProtection&) = delete;

    bool changed() const noexcept { return changed_; }
    DWORD old() const noexcept { return old_; }

private:
    void* address_;
    std::size_t size_;
    DWORD old_ = 0;
    bool changed_ = false;
};

// Makes the protectSize bytes at address PAGE_EXECUTE_READWRITE, copies count bytes there and
// restores the old protection. When the protection cannot be changed nothing is written (a
// write into a page that stayed read-only would fault inside the game) and the result is false.
bool WriteHostCode(std::uintptr_t address, const void* bytes, std::size_t count,
                   std::size_t protectSize);

inline bool WriteHostCode(std::uintptr_t address, const void* bytes, std::size_t count) {
    return WriteHostCode(address, bytes, count, count);
}

} // namespace host
