#include "platform/linux/pipewire/PipeWirePersonaCameraSink.hpp"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/buffers.h>
#include <spa/param/param.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

#include "virtual_devices/CameraDeviceIdentifiers.hpp"

namespace quillbridge {

namespace {

namespace Ids = CameraDeviceIdentifiers;
using Kind = PersonaCameraSinkConnectError::Kind;

std::string upperCased(std::string text) {
    std::ranges::transform(text, text.begin(), [](unsigned char c) { return char(std::toupper(c)); });
    return text;
}

const char* property(const spa_dict* properties, std::string_view key) {
    return properties == nullptr ? nullptr : spa_dict_lookup(properties, std::string(key).c_str());
}

// Waits (the thread loop locked) until done() holds or the time is up.
template <class Predicate>
bool waitLocked(pw_thread_loop* loop, std::chrono::milliseconds timeout, Predicate done) {
    timespec deadline{};
    pw_thread_loop_get_time(loop, &deadline, std::chrono::nanoseconds(timeout).count());
    while (!done()) {
        if (pw_thread_loop_timed_wait_full(loop, &deadline) != 0)
            return done();
    }
    return true;
}

// The sink nodes the registry holds now: the one with the camera's device UID, else the one with its node
// name. The registry's announcements carry only a node's common properties: the camera's own (its UIDs) are
// read from the node's info, for which every sink node is bound.
struct SinkNodeSearch {
    struct BoundNode {
        SinkNodeSearch* search = nullptr;
        std::uint32_t id = 0;
        pw_proxy* proxy = nullptr;
        spa_hook listener{};
    };

    pw_thread_loop* loop = nullptr;
    pw_registry* registry = nullptr;
    int syncSequence = 0;
    bool done = false;
    std::optional<std::uint32_t> byDeviceUID;
    std::optional<std::uint32_t> byName;
    std::vector<std::unique_ptr<BoundNode>> boundNodes;

    ~SinkNodeSearch() {
        for (auto& node : boundNodes) {
            spa_hook_remove(&node->listener);
            pw_proxy_destroy(node->proxy);
        }
    }

    static void global(void* data, std::uint32_t id, std::uint32_t, const char* type, std::uint32_t,
                       const spa_dict* properties) {
        static const pw_node_events nodeEvents = [] {
            pw_node_events events{};
            events.version = PW_VERSION_NODE_EVENTS;
            events.info = &SinkNodeSearch::nodeInfo;
            return events;
        }();
        auto& search = *static_cast<SinkNodeSearch*>(data);
        if (std::strcmp(type, PW_TYPE_INTERFACE_Node) != 0)
            return;
        const char* mediaClass = property(properties, PW_KEY_MEDIA_CLASS);
        if (mediaClass == nullptr || Ids::sinkMediaClass != mediaClass)
            return;
        const char* name = property(properties, PW_KEY_NODE_NAME);
        if (name != nullptr && Ids::sinkNodeName == name && !search.byName)
            search.byName = id;
        auto* proxy = static_cast<pw_proxy*>(
            pw_registry_bind(search.registry, id, PW_TYPE_INTERFACE_Node, PW_VERSION_NODE, 0));
        if (proxy == nullptr)
            return;
        auto node = std::make_unique<BoundNode>();
        node->search = &search;
        node->id = id;
        node->proxy = proxy;
        pw_proxy_add_object_listener(proxy, &node->listener, &nodeEvents, node.get());
        search.boundNodes.push_back(std::move(node));
    }
    static void nodeInfo(void* data, const pw_node_info* info) {
        auto& node = *static_cast<BoundNode*>(data);
        if (info == nullptr || info->props == nullptr)
            return;
        const char* deviceUID = property(info->props, Ids::deviceUIDPropertyKey);
        const char* streamUID = property(info->props, Ids::streamUIDPropertyKey);
        if (deviceUID != nullptr && upperCased(deviceUID) == Ids::deviceUID &&
            (streamUID == nullptr || upperCased(streamUID) == Ids::sinkStreamUID) &&
            !node.search->byDeviceUID)
            node.search->byDeviceUID = node.id;
    }
    static void coreDone(void* data, std::uint32_t id, int sequence) {
        auto& search = *static_cast<SinkNodeSearch*>(data);
        if (id == PW_ID_CORE && sequence == search.syncSequence) {
            search.done = true;
            pw_thread_loop_signal(search.loop, false);
        }
    }
};

// Looks the sink up on a connected core; the thread loop is locked.
std::optional<std::uint32_t> findSinkNodeLocked(pw_thread_loop* loop, pw_core* core,
                                                std::chrono::milliseconds timeout,
                                                bool byDeviceUIDOnly = false) {
    static const pw_registry_events registryEvents = [] {
        pw_registry_events events{};
        events.version = PW_VERSION_REGISTRY_EVENTS;
        events.global = &SinkNodeSearch::global;
        return events;
    }();
    static const pw_core_events coreEvents = [] {
        pw_core_events events{};
        events.version = PW_VERSION_CORE_EVENTS;
        events.done = &SinkNodeSearch::coreDone;
        return events;
    }();
    pw_registry* registry = pw_core_get_registry(core, PW_VERSION_REGISTRY, 0);
    if (registry == nullptr)
        return std::nullopt;
    bool complete = false;
    std::optional<std::uint32_t> found;
    {
        SinkNodeSearch search;
        search.loop = loop;
        search.registry = registry;
        spa_hook registryHook{};
        spa_hook coreHook{};
        pw_registry_add_listener(registry, &registryHook, &registryEvents, &search);
        pw_core_add_listener(core, &coreHook, &coreEvents, &search);
        // The first round trip brings the globals (and binds the sinks), the second their nodes' info.
        search.syncSequence = pw_core_sync(core, PW_ID_CORE, 0);
        if (waitLocked(loop, timeout, [&] { return search.done; })) {
            search.done = false;
            search.syncSequence = pw_core_sync(core, PW_ID_CORE, 0);
            complete = waitLocked(loop, timeout, [&] { return search.done; });
        }
        spa_hook_remove(&coreHook);
        spa_hook_remove(&registryHook);
        found = search.byDeviceUID || byDeviceUIDOnly ? search.byDeviceUID : search.byName;
    }
    pw_proxy_destroy(reinterpret_cast<pw_proxy*>(registry));
    if (!complete)
        return std::nullopt;
    return found;
}

const spa_pod* buildFormat(spa_pod_builder& builder) {
    spa_video_info_raw info{};
    info.format = SPA_VIDEO_FORMAT_NV12;
    info.size = SPA_RECTANGLE(Ids::widthPixels, Ids::heightPixels);
    info.framerate = SPA_FRACTION(Ids::frameDurationDenominator, Ids::frameDurationNumerator);
    info.color_range = SPA_VIDEO_COLOR_RANGE_16_235;
    return spa_format_video_raw_build(&builder, SPA_PARAM_EnumFormat, &info);
}

}  // namespace

// One open feed: the acknowledgement socket and its reader, the producer stream and the frames waiting for a
// graph cycle. Every field but the socket path is used under the thread loop's lock (callbacks hold it).
class PipeWirePersonaCameraSink::Connection final : public PersonaCameraSinkConnection {
public:
    Connection(pw_thread_loop* loop, pw_core* core, ScheduledOutputHandler scheduledOutput)
        : loop_(loop), core_(core), scheduledOutput_(std::move(scheduledOutput)) {}

    ~Connection() override {
        pw_thread_loop_lock(loop_);
        if (timer_ != nullptr)
            pw_loop_destroy_source(pw_thread_loop_get_loop(loop_), timer_);
        if (reader_ != nullptr)
            pw_loop_destroy_source(pw_thread_loop_get_loop(loop_), reader_);
        // Forgotten first: the stream's removal of its buffers reports nothing to the feeder then.
        waiting_.clear();
        inFlight_.clear();
        free_.clear();
        if (stream_ != nullptr)
            pw_stream_destroy(stream_);
        pw_core_disconnect(core_);
        pw_thread_loop_unlock(loop_);
        if (socket_ >= 0) {
            ::close(socket_);
            ::unlink(socketPath_.c_str());
        }
    }

    // Binds the acknowledgement socket; 0 or a negative errno.
    int openAcknowledgementSocket(const std::string& directory) {
        if (directory.empty())
            return -ENOENT;
        socketPath_ = directory + "/" + std::string(ScheduledOutputMessage::socketFileName);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (socketPath_.size() >= sizeof(address.sun_path))
            return -ENAMETOOLONG;
        std::memcpy(address.sun_path, socketPath_.c_str(), socketPath_.size() + 1);
        const int descriptor = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (descriptor < 0)
            return -errno;
        // A socket file left by an earlier run of the host.
        ::unlink(socketPath_.c_str());
        if (::bind(descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
            const int error = errno;
            ::close(descriptor);
            return -error;
        }
        socket_ = descriptor;
        return 0;
    }

    // Reads acknowledgements on the PipeWire loop; 0 or a negative errno. The loop is locked.
    int listenForAcknowledgements() {
        reader_ =
            pw_loop_add_io(pw_thread_loop_get_loop(loop_), socket_, SPA_IO_IN, false, &onReadable, this);
        if (reader_ == nullptr)
            return errno != 0 ? -errno : -ENOMEM;
        return 0;
    }

    // Connects the producer stream to the sink node and waits until it streams; 0 or a negative errno. The
    // loop is locked.
    int start(std::chrono::milliseconds timeout) {
        static const pw_stream_events events = [] {
            pw_stream_events events{};
            events.version = PW_VERSION_STREAM_EVENTS;
            events.state_changed = &onStateChanged;
            events.param_changed = &onParamChanged;
            events.process = &onProcess;
            events.remove_buffer = &onRemoveBuffer;
            return events;
        }();
        timer_ = pw_loop_add_timer(pw_thread_loop_get_loop(loop_), &onTimer, this);
        pw_properties* properties =
            pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Playback",
                              PW_KEY_MEDIA_ROLE, "Camera", PW_KEY_MEDIA_CLASS, "Stream/Output/Video",
                              PW_KEY_TARGET_OBJECT, std::string(Ids::sinkNodeName).c_str(), PW_KEY_NODE_NAME,
                              "quillbridge_persona_camera_feeder", nullptr);
        stream_ = pw_stream_new(core_, "Quillbridge Persona Camera Feeder", properties);
        if (stream_ == nullptr)
            return errno != 0 ? -errno : -ENOMEM;
        pw_stream_add_listener(stream_, &listener_, &events, this);
        alignas(8) std::uint8_t storage[1024];
        spa_pod_builder builder = SPA_POD_BUILDER_INIT(storage, sizeof(storage));
        const spa_pod* params[] = {buildFormat(builder)};
        const int status = pw_stream_connect(
            stream_, PW_DIRECTION_OUTPUT, PW_ID_ANY,
            pw_stream_flags(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS | PW_STREAM_FLAG_DRIVER),
            params, 1);
        if (status < 0)
            return status;
        const bool streaming = waitLocked(loop_, timeout, [&] {
            return state_ == PW_STREAM_STATE_STREAMING || state_ == PW_STREAM_STATE_ERROR;
        });
        if (state_ == PW_STREAM_STATE_ERROR)
            return -EPIPE;
        return streaming ? 0 : -ETIMEDOUT;
    }

    std::uint32_t capacity() const override { return Ids::sinkBufferQueueSize; }

    int enqueue(std::shared_ptr<const PersonaCameraSinkFrame> frame) override {
        if (frame == nullptr || frame->planes.size() != Ids::frameByteCount)
            return -EINVAL;
        pw_thread_loop_lock(loop_);
        int status = 0;
        if (state_ != PW_STREAM_STATE_STREAMING) {
            status = -EPIPE;
        } else {
            // Full only when the feeder stopped waiting for frames that never left (the sink took nothing for
            // a long while): the newest frame wins, and the oldest, never sent, counts as output.
            if (waiting_.size() >= Ids::sinkBufferQueueSize) {
                const std::uint64_t dropped = waiting_.front()->sequenceNumber;
                waiting_.pop_front();
                if (scheduledOutput_)
                    scheduledOutput_(dropped);
            }
            waiting_.push_back(std::move(frame));
            writeNext();
        }
        pw_thread_loop_unlock(loop_);
        return status;
    }

private:
    static void onReadable(void* data, int, std::uint32_t) {
        auto& connection = *static_cast<Connection*>(data);
        std::array<std::uint8_t, ScheduledOutputMessage::byteCount + 1> bytes{};
        for (;;) {
            const ssize_t count = ::recv(connection.socket_, bytes.data(), bytes.size(), 0);
            if (count < 0)
                break;
            if (auto message = ScheduledOutputMessage::decode(std::span(bytes.data(), std::size_t(count))))
                connection.acknowledge(message->sequenceNumber);
        }
    }

    void acknowledge(std::uint64_t sequenceNumber) {
        for (auto entry = inFlight_.begin(); entry != inFlight_.end(); ++entry) {
            if (entry->second == sequenceNumber) {
                inFlight_.erase(entry);
                break;
            }
        }
        if (scheduledOutput_)
            scheduledOutput_(sequenceNumber);
    }

    static void onStateChanged(void* data, pw_stream_state, pw_stream_state state, const char*) {
        auto& connection = *static_cast<Connection*>(data);
        connection.state_ = state;
        pw_thread_loop_signal(connection.loop_, false);
    }

    static void onParamChanged(void* data, std::uint32_t id, const spa_pod* param) {
        auto& connection = *static_cast<Connection*>(data);
        if (id != SPA_PARAM_Format || param == nullptr)
            return;
        alignas(8) std::uint8_t storage[1024];
        spa_pod_builder builder = SPA_POD_BUILDER_INIT(storage, sizeof(storage));
        const int dataTypes = (1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr);
        const spa_pod* params[2] = {
            static_cast<const spa_pod*>(spa_pod_builder_add_object(
                &builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
                SPA_POD_CHOICE_RANGE_Int(int(Ids::sinkBufferPoolSize), 2, int(Ids::sinkBufferPoolMaximum)),
                SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1), SPA_PARAM_BUFFERS_size,
                SPA_POD_Int(int(Ids::frameByteCount)), SPA_PARAM_BUFFERS_stride,
                SPA_POD_Int(int(Ids::lumaRowByteCount)), SPA_PARAM_BUFFERS_dataType,
                SPA_POD_CHOICE_FLAGS_Int(dataTypes))),
            static_cast<const spa_pod*>(spa_pod_builder_add_object(
                &builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
                SPA_POD_Id(SPA_META_Header), SPA_PARAM_META_size, SPA_POD_Int(int(sizeof(spa_meta_header))))),
        };
        if (params[0] != nullptr && params[1] != nullptr)
            pw_stream_update_params(connection.stream_, params, 2);
    }

    // After each graph cycle: buffers may have come back, and frames may wait.
    static void onProcess(void* data) {
        auto& connection = *static_cast<Connection*>(data);
        connection.reclaimReturnedBuffers();
        connection.writeNext();
    }

    static void onTimer(void* data, std::uint64_t) {
        auto& connection = *static_cast<Connection*>(data);
        if (connection.stream_ == nullptr)
            return;
        // A frame queued before still waits for the sink to take the one before it: another cycle.
        if (connection.queuedBufferCount() > 0)
            pw_stream_trigger_process(connection.stream_);
        connection.reclaimReturnedBuffers();
        connection.writeNext();
    }

    // A buffer the stream takes away (renegotiation, the stream's end) is forgotten; a frame still in it
    // counts as consumed.
    static void onRemoveBuffer(void* data, pw_buffer* buffer) {
        auto& connection = *static_cast<Connection*>(data);
        std::erase(connection.free_, buffer);
        connection.releaseInFlight(buffer);
    }

    std::uint32_t queuedBufferCount() {
        pw_time time{};
        pw_stream_get_time_n(stream_, &time, sizeof(time));
        return time.queued_buffers;
    }

    // Asks for another graph cycle shortly: the sink has not taken the last frame yet, or more frames wait.
    void retrySoon() {
        timespec delay{0, 4'000'000};
        pw_loop_update_timer(pw_thread_loop_get_loop(loop_), timer_, &delay, nullptr, false);
    }

    // Takes every buffer the stream has given back into the free list at once, so that a buffer that returns
    // without its frame's acknowledgement (the camera program hands back what it cannot use; a datagram can
    // come later than its buffer) frees the frame's room in the cycle it comes back, not only when the buffer
    // is next written. A buffer the sink still reads is reported busy and put last by the stream.
    void reclaimReturnedBuffers() {
        constexpr int maximumBufferCount = 64;
        for (int attempt = 0; attempt < maximumBufferCount; ++attempt) {
            pw_buffer* buffer = pw_stream_dequeue_buffer(stream_);
            if (buffer == nullptr) {
                if (errno == EBUSY)
                    continue;
                return;
            }
            releaseInFlight(buffer);
            free_.push_back(buffer);
        }
    }

    void releaseInFlight(pw_buffer* buffer) {
        auto entry = inFlight_.find(buffer);
        if (entry == inFlight_.end())
            return;
        const std::uint64_t sequenceNumber = entry->second;
        inFlight_.erase(entry);
        if (scheduledOutput_)
            scheduledOutput_(sequenceNumber);
    }

    // Under the loop's lock: writes the oldest waiting frame into a free buffer, queues it and triggers the
    // graph cycle that carries it (the stream hands a queued buffer over when its cycle starts, so the frame
    // is written first). One frame at a time: the next waits until the sink has taken this one.
    void writeNext() {
        if (waiting_.empty())
            return;
        if (queuedBufferCount() > 0) {
            retrySoon();
            return;
        }
        if (free_.empty())
            reclaimReturnedBuffers();
        if (free_.empty()) {
            retrySoon();
            return;
        }
        pw_buffer* buffer = free_.front();
        free_.pop_front();
        std::shared_ptr<const PersonaCameraSinkFrame> frame = std::move(waiting_.front());
        waiting_.pop_front();
        spa_buffer& target = *buffer->buffer;
        bool written = false;
        if (target.n_datas >= 2 && target.datas[0].data != nullptr && target.datas[1].data != nullptr &&
            target.datas[0].maxsize >= Ids::lumaByteCount &&
            target.datas[1].maxsize >= Ids::chromaByteCount) {
            std::memcpy(target.datas[0].data, frame->planes.data(), Ids::lumaByteCount);
            std::memcpy(target.datas[1].data, frame->planes.data() + Ids::lumaByteCount,
                        Ids::chromaByteCount);
            for (std::uint32_t index = 0; index < 2; ++index) {
                spa_chunk& chunk = *target.datas[index].chunk;
                chunk = spa_chunk{0, std::uint32_t(index == 0 ? Ids::lumaByteCount : Ids::chromaByteCount),
                                  std::int32_t(Ids::lumaRowByteCount), SPA_CHUNK_FLAG_NONE};
            }
            written = true;
        } else if (target.n_datas >= 1 && target.datas[0].data != nullptr &&
                   target.datas[0].maxsize >= Ids::frameByteCount) {
            std::memcpy(target.datas[0].data, frame->planes.data(), Ids::frameByteCount);
            *target.datas[0].chunk = spa_chunk{0, std::uint32_t(Ids::frameByteCount),
                                               std::int32_t(Ids::lumaRowByteCount), SPA_CHUNK_FLAG_NONE};
            written = true;
        }
        if (!written) {
            for (std::uint32_t index = 0; index < target.n_datas; ++index)
                *target.datas[index].chunk = spa_chunk{0, 0, 0, SPA_CHUNK_FLAG_CORRUPTED};
        }
        if (auto* header = static_cast<spa_meta_header*>(
                spa_buffer_find_meta_data(&target, SPA_META_Header, sizeof(spa_meta_header)))) {
            *header = spa_meta_header{};
            header->flags = frame->isDiscontinuity ? SPA_META_HEADER_FLAG_DISCONT : 0;
            header->pts = frame->presentationTimeNanoseconds;
            header->seq = frame->sequenceNumber;
        }
        inFlight_[buffer] = frame->sequenceNumber;
        pw_stream_queue_buffer(stream_, buffer);
        pw_stream_trigger_process(stream_);
        if (!waiting_.empty())
            retrySoon();
    }

    pw_thread_loop* loop_;
    pw_core* core_;
    ScheduledOutputHandler scheduledOutput_;
    std::string socketPath_;
    int socket_ = -1;
    spa_source* reader_ = nullptr;
    spa_source* timer_ = nullptr;
    pw_stream* stream_ = nullptr;
    spa_hook listener_{};
    pw_stream_state state_ = PW_STREAM_STATE_UNCONNECTED;
    std::deque<std::shared_ptr<const PersonaCameraSinkFrame>> waiting_;
    std::unordered_map<pw_buffer*, std::uint64_t> inFlight_;
    // Buffers taken from the stream and not written yet, oldest first.
    std::deque<pw_buffer*> free_;
};

PipeWirePersonaCameraSink::PipeWirePersonaCameraSink(std::string runtimeDirectory)
    : runtimeDirectory_(std::move(runtimeDirectory)) {
    if (runtimeDirectory_.empty()) {
        if (const char* directory = std::getenv("XDG_RUNTIME_DIR"))
            runtimeDirectory_ = directory;
    }
    pw_init(nullptr, nullptr);
    loop_ = pw_thread_loop_new("persona-camera-feeder", nullptr);
    if (loop_ != nullptr) {
        context_ = pw_context_new(pw_thread_loop_get_loop(loop_), nullptr, 0);
        pw_thread_loop_start(loop_);
    }
}

PipeWirePersonaCameraSink::~PipeWirePersonaCameraSink() {
    if (loop_ != nullptr)
        pw_thread_loop_stop(loop_);
    if (context_ != nullptr)
        pw_context_destroy(context_);
    if (loop_ != nullptr)
        pw_thread_loop_destroy(loop_);
}

std::optional<std::uint32_t> PipeWirePersonaCameraSink::findSinkNode(bool byDeviceUIDOnly) {
    if (context_ == nullptr)
        return std::nullopt;
    pw_thread_loop_lock(loop_);
    std::optional<std::uint32_t> node;
    if (pw_core* core = pw_context_connect(context_, nullptr, 0)) {
        node = findSinkNodeLocked(loop_, core, connectTimeout, byDeviceUIDOnly);
        pw_core_disconnect(core);
    }
    pw_thread_loop_unlock(loop_);
    return node;
}

std::expected<std::unique_ptr<PersonaCameraSinkConnection>, PersonaCameraSinkConnectError>
PipeWirePersonaCameraSink::connect(ScheduledOutputHandler scheduledOutput) {
    if (context_ == nullptr)
        return std::unexpected(PersonaCameraSinkConnectError{Kind::deviceNotFound, 0});
    pw_thread_loop_lock(loop_);
    pw_core* core = pw_context_connect(context_, nullptr, 0);
    if (core == nullptr) {
        pw_thread_loop_unlock(loop_);
        return std::unexpected(PersonaCameraSinkConnectError{Kind::deviceNotFound, 0});
    }
    if (!findSinkNodeLocked(loop_, core, connectTimeout)) {
        pw_core_disconnect(core);
        pw_thread_loop_unlock(loop_);
        return std::unexpected(PersonaCameraSinkConnectError{Kind::deviceNotFound, 0});
    }
    pw_thread_loop_unlock(loop_);
    // The connection owns the core from here; its destructor takes the lock itself.
    auto connection = std::make_unique<Connection>(loop_, core, std::move(scheduledOutput));
    if (const int status = connection->openAcknowledgementSocket(runtimeDirectory_); status != 0)
        return std::unexpected(PersonaCameraSinkConnectError{Kind::queueUnavailable, status});
    pw_thread_loop_lock(loop_);
    int status = connection->listenForAcknowledgements();
    Kind failure = Kind::scheduledOutputRegistrationFailed;
    if (status == 0) {
        status = connection->start(connectTimeout);
        failure = Kind::startFailed;
    }
    pw_thread_loop_unlock(loop_);
    if (status != 0)
        return std::unexpected(PersonaCameraSinkConnectError{failure, status});
    return connection;
}

}  // namespace quillbridge
