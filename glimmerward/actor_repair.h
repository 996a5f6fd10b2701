// Re-dresses actors after the game has loaded their 3D: fades the actor out, pushes everything
// it wears off its slots with a placeholder armor, re-equips what it wore, fades it back in and
// has the game rebuild its 3D.
#pragma once

#include "glimmerward/host_events.h"

namespace glimmerward {

// Looks up the placeholder armor and its addon and widens their slot masks; null when either
// form is missing, and then nothing is changed.
void* PreparePlaceholders();

// The handler of TESObjectLoadedEvent; every actor that fails a test is left as it was.
EventResult RepairActorOnLoad(TESObjectLoadedEvent* event);

} // namespace glimmerward
