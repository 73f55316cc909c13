#pragma once

#include <chrono>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include <pulse/introspect.h>
#include <pulse/subscribe.h>

#include "capture/SystemAudioRouting.hpp"
#include "platform/linux/pulse/PulseConnection.hpp"
#include "platform/linux/pulse/PulseIntrospection.hpp"

namespace quillbridge {

// The desktop's sound routed on the sound server (PulseAudio or pipewire-pulse) while the host is muted: a
// private null sink (PulseHostAudioSink, loaded as module-null-sink) becomes the default sink, every playing
// stream (sink input) is moved into it, and so is every stream that starts meanwhile; system-audio capture
// records its monitor. Restoring puts the streams still in it back on the sinks they came from, the replaced
// default sink back unless the user chose another one meanwhile, and unloads the sink. Streams that refuse to
// move (PA_STREAM_DONT_MOVE) stay where they are and are logged once.
//
// Calls block the caller (never the loop thread) until the server answers; new streams are moved from the
// loop thread without waiting. It connects on first use and again when the server went away.
class PulseSystemAudioRouter final : public SystemAudioRouting {
public:
    explicit PulseSystemAudioRouter(std::chrono::milliseconds connectTimeout);
    ~PulseSystemAudioRouter() override;
    PulseSystemAudioRouter(const PulseSystemAudioRouter&) = delete;
    PulseSystemAudioRouter& operator=(const PulseSystemAudioRouter&) = delete;

    void recoverAbandonedRouting() override;
    bool routeDesktopAudioToCapture() override;
    void restoreDesktopAudioRouting() override;

private:
    // A move of a new stream under way: the answer on the loop thread finds its stream here.
    struct PendingMove {
        PulseSystemAudioRouter* router;
        std::uint32_t sinkInput;
        std::uint64_t generation;
    };

    bool connect();
    // With the lock held, on the caller's thread.
    // Removes sinks of the host left by an earlier run, their streams going to the default sink.
    void removeHostSinks();
    std::optional<std::uint32_t> loadHostSink(const std::string& replacedDefault);
    std::optional<std::uint32_t> hostSinkIndex(std::uint32_t module);
    bool setDefaultSink(const std::string& name);
    bool moveSinkInput(std::uint32_t sinkInput, const std::string& sink);
    bool unloadModule(std::uint32_t module);
    bool subscribe(pa_subscription_mask_t mask);
    void moveExistingStreams();
    // The streams in the host's sink to the sinks they came from, or to the default sink.
    void putStreamsBack(const std::vector<PulseSinkSummary>& sinks, bool toDefault);
    // Logs a stream that refused to move, once.
    void streamCannotMove(pa_context* context, std::uint32_t sinkInput);

    // On the loop thread, with the lock held.
    static void serverEvent(pa_context* context, pa_subscription_event_type_t type, std::uint32_t index,
                            void* userdata);
    static void sinkAppeared(pa_context* context, const pa_sink_info* info, int endOfList, void* userdata);
    static void streamAppeared(pa_context* context, const pa_sink_input_info* info, int endOfList,
                               void* userdata);
    static void newStreamMoved(pa_context* context, int success, void* userdata);

    std::chrono::milliseconds connectTimeout_;
    // Touched with the loop's lock held (the loop thread holds it while it runs callbacks).
    bool isRouting_ = false;
    // Raised at every start and end of a routing: answers of an earlier one are ignored.
    std::uint64_t generation_ = 0;
    std::uint32_t hostSinkModule_ = 0;
    std::uint32_t hostSinkIndex_ = 0;
    std::string replacedDefault_;
    // The real sinks' names by index, for new streams to remember where they came from.
    std::map<std::uint32_t, std::string> sinkNames_;
    // Each stream the host moved, with the sink it came from (empty when unknown).
    std::map<std::uint32_t, std::string> originalSinks_;
    std::set<std::uint32_t> unmovableStreams_;
    std::list<PendingMove> pendingMoves_;
    // Last member: destroyed first, so the loop thread has stopped before the state above goes.
    std::unique_ptr<PulseConnection> connection_;
};

}  // namespace quillbridge
