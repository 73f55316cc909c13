#pragma once

#include <tuple>

#include "core/Json.hpp"
#include "wire/RemoteSystemAction.hpp"

namespace quillbridge {

// Control message `systemAction` (headset to host): one system action for the host to carry out.
struct SystemActionMessage {
    RemoteSystemAction action = RemoteSystemAction::back;
};

template <>
struct JsonFields<SystemActionMessage> {
    static auto fields() { return std::tuple{jsonField("action", &SystemActionMessage::action)}; }
};

}  // namespace quillbridge
