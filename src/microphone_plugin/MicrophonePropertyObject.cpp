#include "microphone_plugin/MicrophonePropertyObject.hpp"

namespace quillbridge {

MicrophonePropertyObject* MicrophonePropertyObject::createString(std::string_view text) {
    auto* object = new MicrophonePropertyObject(Kind::string);
    object->text_ = std::string(text);
    return object;
}

MicrophonePropertyObject* MicrophonePropertyObject::createData(std::span<const std::uint8_t> bytes) {
    auto* object = new MicrophonePropertyObject(Kind::data);
    object->bytes_.assign(bytes.begin(), bytes.end());
    return object;
}

MicrophonePropertyObject* MicrophonePropertyObject::createDictionary(Entries entries) {
    auto* object = new MicrophonePropertyObject(Kind::dictionary);
    object->entries_ = std::move(entries);
    return object;
}

void MicrophonePropertyObject::retain() const {
    referenceCount_.fetch_add(1, std::memory_order_relaxed);
}

void MicrophonePropertyObject::release() const {
    if (referenceCount_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        delete this;
    }
}

std::string MicrophonePropertyObject::description() const {
    switch (kind_) {
        case Kind::string:
            return "\"" + text_ + "\"";
        case Kind::data:
            return "<data of " + std::to_string(bytes_.size()) + " bytes>";
        case Kind::dictionary: {
            std::string text = "{";
            for (const auto& [key, number] : entries_) {
                text += (text.size() > 1 ? ", " : "") + key + " = " + std::to_string(number.value);
            }
            return text + "}";
        }
    }
    return {};
}

}  // namespace quillbridge
