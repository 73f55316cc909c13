#include "microphone_plugin/linux/PipeWireMicrophoneSource.hpp"

#include <errno.h>
#include <pipewire/pipewire.h>
#include <spa/param/audio/format-utils.h>
#include <spa/pod/builder.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "microphone_plugin/MicrophoneLocalizedStrings.hpp"
#include "microphone_plugin/MicrophonePropertyObject.hpp"
#include "virtual_devices/MicrophoneDeviceIdentifiers.hpp"

namespace quillbridge {

using namespace microphone;

struct PipeWireMicrophoneSource::Hooks {
    pw_core_events coreEvents{};
    spa_hook coreListener{};
    pw_stream_events streamEvents{};
    spa_hook streamListener{};
};

std::unique_ptr<PipeWireMicrophoneSource> PipeWireMicrophoneSource::start(
    MicrophoneDriverRef driver, MicrophoneProgramLog& log, std::function<void()> disconnected) {
    std::unique_ptr<PipeWireMicrophoneSource> source(
        new PipeWireMicrophoneSource(driver, log, std::move(disconnected)));
    if (!source->connect()) {
        return nullptr;
    }
    return source;
}

PipeWireMicrophoneSource::PipeWireMicrophoneSource(MicrophoneDriverRef driver, MicrophoneProgramLog& log,
                                                   std::function<void()> disconnected)
    : driver_(driver), log_(log), disconnected_(std::move(disconnected)), hooks_(std::make_unique<Hooks>()) {
    hooks_->coreEvents.version = PW_VERSION_CORE_EVENTS;
    hooks_->coreEvents.error = &PipeWireMicrophoneSource::onCoreError;
    hooks_->streamEvents.version = PW_VERSION_STREAM_EVENTS;
    hooks_->streamEvents.process = &PipeWireMicrophoneSource::onProcess;
    hooks_->streamEvents.state_changed = [](void* data, pw_stream_state oldState, pw_stream_state state,
                                            const char* error) {
        onStateChanged(data, oldState, state, error);
    };
}

bool PipeWireMicrophoneSource::connect() {
    pw_init(nullptr, nullptr);
    loop_ = pw_thread_loop_new("quillbridge-microphone", nullptr);
    if (loop_ == nullptr) {
        log_.error("Could not create the PipeWire loop");
        return false;
    }
    // The real-time client configuration: the data thread that runs the process callback asks for real-time
    // scheduling (through RealtimeKit, or directly where the process may).
    context_ = pw_context_new(pw_thread_loop_get_loop(loop_),
                              pw_properties_new(PW_KEY_CONFIG_NAME, "client-rt.conf", nullptr), 0);
    if (context_ == nullptr || pw_thread_loop_start(loop_) != 0) {
        log_.error("Could not start the PipeWire loop");
        return false;
    }
    pw_thread_loop_lock(loop_);
    core_ = pw_context_connect(context_, nullptr, 0);
    if (core_ != nullptr) {
        pw_core_add_listener(core_, &hooks_->coreListener, &hooks_->coreEvents, this);
    }
    pw_thread_loop_unlock(loop_);
    if (core_ == nullptr) {
        log_.error(std::string("Could not connect to PipeWire: ") + std::strerror(errno));
        return false;
    }
    return true;
}

PipeWireMicrophoneSource::~PipeWireMicrophoneSource() {
    if (loop_ == nullptr) {
        return;
    }
    pw_thread_loop_lock(loop_);
    destroyStream();
    if (core_ != nullptr) {
        spa_hook_remove(&hooks_->coreListener);
        pw_core_disconnect(core_);
    }
    pw_thread_loop_unlock(loop_);
    pw_thread_loop_stop(loop_);
    if (context_ != nullptr) {
        pw_context_destroy(context_);
    }
    pw_thread_loop_destroy(loop_);
}

void PipeWireMicrophoneSource::propertiesChanged(MicrophoneObjectID objectID,
                                                 std::span<const MicrophonePropertyAddress> addresses) {
    bool listChanged = std::any_of(addresses.begin(), addresses.end(), [objectID](const auto& address) {
        return objectID == plugInObjectID && address.selector == selector::deviceList;
    });
    if (listChanged) {
        refreshPublication();
    }
}

bool PipeWireMicrophoneSource::deviceIsListed() const {
    MicrophonePropertyAddress address{selector::deviceList, scope::global, mainElement};
    std::uint32_t devices[4] = {};
    std::uint32_t written = 0;
    if ((**driver_).getPropertyData(driver_, plugInObjectID, 0, &address, 0, nullptr, sizeof(devices),
                                    &written, devices) != status::ok) {
        return false;
    }
    return std::find(devices, devices + written / sizeof(devices[0]), deviceObjectID) !=
           devices + written / sizeof(devices[0]);
}

std::string PipeWireMicrophoneSource::deviceDescription() const {
    MicrophonePropertyAddress address{selector::name, scope::global, mainElement};
    MicrophonePropertyObject* name = nullptr;
    std::uint32_t written = 0;
    if ((**driver_).getPropertyData(driver_, deviceObjectID, 0, &address, 0, nullptr, sizeof(name), &written,
                                    &name) != status::ok ||
        written != sizeof(name)) {
        return std::string(microphone::deviceName);
    }
    auto owned = MicrophonePropertyObjectRef::adopt(name);
    return std::string(microphoneLocalizedString(owned->text()));
}

void PipeWireMicrophoneSource::refreshPublication() {
    std::lock_guard refresh(refreshMutex_);
    bool listed = deviceIsListed();
    std::string description = listed ? deviceDescription() : std::string();
    pw_thread_loop_lock(loop_);
    if (listed && stream_ == nullptr) {
        createStream(description);
        if (stream_ != nullptr) {
            log_.notice("Published " + description);
        }
    } else if (!listed && stream_ != nullptr) {
        destroyStream();
        log_.notice("Retracted the microphone");
    }
    pw_thread_loop_unlock(loop_);
}

void PipeWireMicrophoneSource::createStream(const std::string& description) {
    pw_properties* properties = pw_properties_new(
        PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Capture", PW_KEY_MEDIA_CLASS, "Audio/Source",
        PW_KEY_NODE_NAME, nodeName, PW_KEY_NODE_DESCRIPTION, description.c_str(), PW_KEY_NODE_NICK,
        description.c_str(), PW_KEY_NODE_LATENCY, nodeLatency, PW_KEY_NODE_VIRTUAL, "true", deviceUIDProperty,
        std::string(microphone::deviceUID).c_str(), nullptr);
    stream_ = pw_stream_new(core_, description.c_str(), properties);
    if (stream_ == nullptr) {
        log_.error(std::string("Could not create the PipeWire stream: ") + std::strerror(errno));
        return;
    }
    pw_stream_add_listener(stream_, &hooks_->streamListener, &hooks_->streamEvents, this);

    std::uint8_t podBuffer[1024];
    spa_pod_builder builder{};
    spa_pod_builder_init(&builder, podBuffer, sizeof(podBuffer));
    spa_audio_info_raw format{};
    format.format = SPA_AUDIO_FORMAT_F32;
    format.rate = static_cast<std::uint32_t>(sampleRate);
    format.channels = channelCount;
    format.position[0] = SPA_AUDIO_CHANNEL_MONO;
    const spa_pod* parameters[] = {spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &format)};
    auto flags = static_cast<pw_stream_flags>(PW_STREAM_FLAG_MAP_BUFFERS | PW_STREAM_FLAG_RT_PROCESS);
    if (pw_stream_connect(stream_, PW_DIRECTION_OUTPUT, PW_ID_ANY, flags, parameters, 1) != 0) {
        log_.error("Could not connect the PipeWire stream");
        destroyStream();
    }
}

void PipeWireMicrophoneSource::destroyStream() {
    if (stream_ == nullptr) {
        return;
    }
    if (ioStarted_) {
        ioStarted_ = false;
        (**driver_).stopIO(driver_, deviceObjectID, 0);
    }
    spa_hook_remove(&hooks_->streamListener);
    pw_stream_destroy(stream_);
    stream_ = nullptr;
}

void PipeWireMicrophoneSource::onStateChanged(void* data, int /*oldState*/, int state, const char* error) {
    auto* self = static_cast<PipeWireMicrophoneSource*>(data);
    bool streaming = state == PW_STREAM_STATE_STREAMING;
    if (streaming && !self->ioStarted_) {
        self->ioStarted_ = (**self->driver_).startIO(self->driver_, deviceObjectID, 0) == status::ok;
    } else if (!streaming && self->ioStarted_) {
        self->ioStarted_ = false;
        (**self->driver_).stopIO(self->driver_, deviceObjectID, 0);
    }
    if (state == PW_STREAM_STATE_ERROR) {
        self->log_.error(std::string("The PipeWire stream failed: ") +
                         (error != nullptr ? error : "unknown error"));
    }
}

void PipeWireMicrophoneSource::onProcess(void* data) {
    auto* self = static_cast<PipeWireMicrophoneSource*>(data);
    pw_buffer* buffer = pw_stream_dequeue_buffer(self->stream_);
    if (buffer == nullptr) {
        return;
    }
    spa_data& plane = buffer->buffer->datas[0];
    if (plane.data != nullptr && plane.chunk != nullptr) {
        auto capacity = static_cast<std::uint32_t>(plane.maxsize / sizeof(float));
        auto frames = buffer->requested > 0
                          ? static_cast<std::uint32_t>(std::min<std::uint64_t>(buffer->requested, capacity))
                          : capacity;
        MicrophoneIOCycleInfo cycle;
        cycle.cycleCounter = ++self->cycleCounter_;
        cycle.nominalBufferFrameSize = frames;
        pw_time time{};
        if (pw_stream_get_time_n(self->stream_, &time, sizeof(time)) == 0 && time.now > 0) {
            cycle.outputTime.hostTime = static_cast<std::uint64_t>(time.now);
            cycle.outputTime.flags = MicrophoneTimeStamp::hostTimeValid;
        }
        (**self->driver_)
            .doIOOperation(self->driver_, deviceObjectID, inputStreamObjectID, 0, microphone_io::readInput,
                           frames, &cycle, plane.data, nullptr);
        plane.chunk->offset = 0;
        plane.chunk->stride = sizeof(float);
        plane.chunk->size = frames * sizeof(float);
    }
    pw_stream_queue_buffer(self->stream_, buffer);
}

void PipeWireMicrophoneSource::onCoreError(void* data, std::uint32_t id, int /*sequence*/, int result,
                                           const char* message) {
    auto* self = static_cast<PipeWireMicrophoneSource*>(data);
    self->log_.error(std::string("PipeWire reported an error: ") + (message != nullptr ? message : "") +
                     " (" + std::strerror(-result) + ")");
    if (id == PW_ID_CORE && result == -EPIPE && self->disconnected_) {
        self->disconnected_();
    }
}

}  // namespace quillbridge
