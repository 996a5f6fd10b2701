// The third-person camera's routine made aware of scene-graph scale: two values it obtains from
// calls are multiplied by the parent's world scale, and after each run the player's second
// skeleton takes the scales of the same-named nodes of the player's loaded 3D.
#pragma once

#include <cstdint>

#include "host/calling.h"
#include "ravelstone/engine/scene_graph.h"

namespace ravelstone {

// The routine: thiscall-like (ECX may be a this-pointer), one stack argument it removes, a
// 32-bit result in EAX.
inline constexpr std::uintptr_t HostCameraScaleRoutine = 0x0083FCF0;
// Two 5-byte calls inside it, each replaced by a jump to a cave that makes the call itself.
inline constexpr std::uintptr_t HostScaledFloatSite = 0x0083FD6D;
inline constexpr std::uintptr_t HostScaledFloatCallee = 0x006B8800; // float on the x87 top
inline constexpr std::uintptr_t HostScaledFloatReturn = 0x0083FD72;
inline constexpr std::uintptr_t HostScaledVectorSite = 0x0083FE03;
inline constexpr std::uintptr_t HostScaledVectorCallee = 0x00474CD0; // EAX -> three floats
inline constexpr std::uintptr_t HostScaledVectorReturn = 0x0083FE08;
// thiscall on a node's name field; non-zero lets the node take part in the scale copy.
inline constexpr std::uintptr_t HostNodeNameCheck = 0x00A50AC0;
inline constexpr std::uintptr_t HostPlayer = 0x01B2E8E4;

// Player record fields used by the scale copy.
inline constexpr std::size_t kPlayerLoaded3DOffset = 0x44; // record of the loaded 3D
inline constexpr std::size_t kLoaded3DRootOffset = 0x20;   // its root node: the body root
inline constexpr std::size_t kPlayerSecondSkeletonOffset = 0x58C;

// Reads "fix3rdPersonCameraScale" (section "Camera", default on); when set, queues the hook on
// the routine in the caller's open transaction and writes the two jumps (at once).
void InstallCameraFix();

// Depth first, each node before its children: a node whose name passes the game's check takes
// the local scale of the body root's same-named descendant, when that one is a node. Only
// children that are nodes are visited.
void CopyNodeScales(SceneNode* node, SceneObject* bodyRoot);

std::uint32_t HOST_THISCALL CameraScaleHook(void* self, std::uint32_t argument);

} // namespace ravelstone

// Raw code reached by the jumps, running inside the routine's frame. ScaledFloatCave leaves
// EAX = HostScaledFloatReturn and ECX = the parent (or null); ScaledVectorCave leaves EAX
// pointing to the vector and ECX = HostScaledVectorReturn. Every other register is as the
// callee left it.
extern "C" void ScaledFloatCave();
extern "C" void ScaledVectorCave();
