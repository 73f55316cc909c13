#pragma once

namespace quillbridge {

// The application's phase: active while one of its windows has the focus.
enum class ScenePhase { active, inactive, background };

}  // namespace quillbridge
