#pragma once

#include <optional>
#include <tuple>

#include "core/Json.hpp"

namespace quillbridge {

// A choice of action that may differ between the left and the right hand, for any action type with a JSON
// form: `defaultAction` applies when no hand-specific one does. Absent fields are left out of the JSON.
// Shared vocabulary with the headset; the host itself neither sends nor reads one.
template <typename Action>
struct HandSpecificAction {
    std::optional<Action> defaultAction;
    std::optional<Action> leftAction;
    std::optional<Action> rightAction;
};

template <typename Action>
struct JsonFields<HandSpecificAction<Action>> {
    static auto fields() {
        return std::tuple{jsonField("defaultAction", &HandSpecificAction<Action>::defaultAction),
                          jsonField("leftAction", &HandSpecificAction<Action>::leftAction),
                          jsonField("rightAction", &HandSpecificAction<Action>::rightAction)};
    }
};

}  // namespace quillbridge
