// Glimmerward's plug-in object: accepts extenders from 0x010600C0 on, writes nothing to its log
// and, once the game is live, subscribes the re-dressing of actors to object-loaded events.
#include "glimmerward/actor_repair.h"
#include "glimmerward/skse_event.h"
#include "glimmerward/skse_plugin.h"

namespace {

constexpr std::uint32_t kOldestSupportedExtender = 0x010600C0;

class GlimmerwardPlugin : public SKSEPlugin {
public:
    bool OnQuery() override {
        const PluginFrameworkState& framework = Framework();
        if (framework.extenderVersion < kOldestSupportedExtender) {
            return false;
        }
        // The name lives in the framework as long as the process.
        framework.info->name = framework.name.c_str();
        framework.info->version = 1;
        return true;
    }

    bool OnLoad() override { return true; }

    void OnModLoaded() override {
        glimmerward::PreparePlaceholders();
        SKSEEvent<TESObjectLoadedEvent>::Register(&glimmerward::RepairActorOnLoad);
    }
};

GlimmerwardPlugin g_glimmerward;

} // namespace
