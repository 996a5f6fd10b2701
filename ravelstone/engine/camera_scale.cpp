#include "ravelstone/engine/camera_scale.h"

#include <cstddef>

#include "ravelstone/core/ini.h"
#include "ravelstone/core/write_jump.h"
#include "ravelstone/detour/detour.h"

// The constants are spelled out in the assembly; keep them tied to the names above.
static_assert(ravelstone::HostScaledFloatReturn == 0x0083FD72);
static_assert(ravelstone::HostScaledVectorReturn == 0x0083FE08);
static_assert(offsetof(ravelstone::SceneObject, parent) == 0x18);
static_assert(offsetof(ravelstone::SceneObject, worldScale) == 0x84);

// The callees are called through these variables, so no register the game set up for them is
// used before the call (a direct call from relocatable code to a fixed address cannot be
// encoded).
extern "C" __attribute__((used)) const std::uint32_t ravelstone_scaled_float_callee =
    ravelstone::HostScaledFloatCallee;
extern "C" __attribute__((used)) const std::uint32_t ravelstone_scaled_vector_callee =
    ravelstone::HostScaledVectorCallee;

// The vector is scaled on the x87 stack, which is empty after the call, so no SSE register the
// game might hold is touched; the product of two floats is exact there and rounds once on the
// store, as a single-precision multiplication would.
asm(R"(
    .intel_syntax noprefix
    .text
    .globl _ScaledFloatCave
_ScaledFloatCave:
    call dword ptr [_ravelstone_scaled_float_callee]
    mov ecx, dword ptr [esi + 0x18]
    test ecx, ecx
    jz 1f
    fmul dword ptr [ecx + 0x84]
1:
    mov eax, 0x0083FD72
    jmp eax

    .globl _ScaledVectorCave
_ScaledVectorCave:
    call dword ptr [_ravelstone_scaled_vector_callee]
    mov ecx, dword ptr [esi + 0x18]
    test ecx, ecx
    jz 2f
    fld dword ptr [ecx + 0x84]
    fld dword ptr [eax]
    fmul st, st(1)
    fstp dword ptr [eax]
    fld dword ptr [eax + 4]
    fmul st, st(1)
    fstp dword ptr [eax + 4]
    fld dword ptr [eax + 8]
    fmul st, st(1)
    fstp dword ptr [eax + 8]
    fstp st(0)
2:
    mov ecx, 0x0083FE08
    jmp ecx
    .att_syntax prefix
)");

namespace ravelstone {

namespace {

using CameraScaleRoutine = std::uint32_t(HOST_THISCALL*)(void* self, std::uint32_t argument);

// The detour pointer: the routine before commit, its trampoline after.
CameraScaleRoutine g_cameraScaleRoutine =
    reinterpret_cast<CameraScaleRoutine>(HostCameraScaleRoutine);

template <class T> T ReadField(const void* object, std::size_t offset) {
    return *reinterpret_cast<const T*>(static_cast<const std::uint8_t*>(object) + offset);
}

bool IsNode(SceneObject* object) {
    return object->table->isNode(object) != 0;
}

bool NameTakesPart(SceneObject* node) {
    return node->name != 0 &&
           host::CallThiscall<std::uint32_t>(HostNodeNameCheck, &node->name) != 0;
}

} // namespace

void CopyNodeScales(SceneNode* node, SceneObject* bodyRoot) {
    if (NameTakesPart(&node->object)) {
        SceneObject* namesake = bodyRoot->table->findByName(bodyRoot, &node->object.name);
        if (namesake != nullptr && IsNode(namesake)) {
            node->object.localScale = namesake->localScale;
        }
    }
    for (std::uint16_t i = 0; i < node->childSlots; ++i) {
        SceneObject* child = node->children[i];
        if (child != nullptr && IsNode(child)) {
            CopyNodeScales(reinterpret_cast<SceneNode*>(child), bodyRoot);
        }
    }
}

std::uint32_t HOST_THISCALL CameraScaleHook(void* self, std::uint32_t argument) {
    const std::uint32_t result = g_cameraScaleRoutine(self, argument);
    const void* player = ReadField<const void*>(reinterpret_cast<const void*>(HostPlayer), 0);
    if (player == nullptr) {
        return result;
    }
    const void* loaded3D = ReadField<const void*>(player, kPlayerLoaded3DOffset);
    if (loaded3D == nullptr) {
        return result;
    }
    auto* bodyRoot = ReadField<SceneObject*>(loaded3D, kLoaded3DRootOffset);
    auto* secondSkeleton = ReadField<SceneNode*>(player, kPlayerSecondSkeletonOffset);
    if (bodyRoot != nullptr && secondSkeleton != nullptr) {
        CopyNodeScales(secondSkeleton, bodyRoot);
    }
    return result;
}

void InstallCameraFix() {
    if (!ReadIniFlag("Camera", "fix3rdPersonCameraScale", true)) {
        return;
    }
    detour::AttachHook(&g_cameraScaleRoutine, &CameraScaleHook);
    WriteJump(HostScaledFloatSite, reinterpret_cast<const void*>(&ScaledFloatCave));
    WriteJump(HostScaledVectorSite, reinterpret_cast<const void*>(&ScaledVectorCave));
}

} // namespace ravelstone
