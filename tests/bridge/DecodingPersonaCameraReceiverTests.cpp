#include "bridge/DecodingPersonaCameraReceiver.hpp"

#include <cstdint>
#include <future>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include <gtest/gtest.h>
#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>
#include <asio/use_future.hpp>

#include "bridge/PersonaCameraReceiveError.hpp"
#include "support/bridge/FakePersonaCameraFrameDecoder.hpp"

namespace quillbridge {
namespace {

constexpr std::uint64_t ms = 1'000'000;

PersonaCameraFormatDescriptionMessage h264Format(std::int32_t nalUnitHeaderLength = 4) {
    return {StreamCodec::h264, 640, 480, nalUnitHeaderLength, {{0x67, 0x42, 0x00, 0x1e}, {0x68, 0xce}}};
}

// One NAL unit of `size` bytes (at least 1) behind a 4-byte length.
Bytes nalPayload(std::size_t size, std::uint8_t header) {
    Bytes payload{static_cast<std::uint8_t>(size >> 24), static_cast<std::uint8_t>(size >> 16),
                  static_cast<std::uint8_t>(size >> 8), static_cast<std::uint8_t>(size)};
    payload.resize(4 + size, 0x5a);
    payload[4] = header;
    return payload;
}

struct SentFrame {
    std::uint64_t frameID;
    bool isKeyFrame;
    Bytes payload = nalPayload(3, 0x65);
};

class DecodingPersonaCameraReceiverTest : public testing::Test {
protected:
    template <class T>
    T run(asio::awaitable<T> awaitable) {
        auto future = asio::co_spawn(context_, std::move(awaitable), asio::use_future);
        context_.restart();
        context_.run();
        return future.get();
    }

    std::optional<std::uint64_t> updateFormat(PersonaCameraFormatDescriptionMessage format) {
        auto report = run(receiver_->updateFormat(std::move(format)));
        if (!report) {
            return std::nullopt;
        }
        EXPECT_TRUE(report->highestReceivedFrameID.has_value());
        return report->highestReceivedFrameID;
    }

    // Sends the frame as the session does: its media time 33 ms a frame, received 10 ms after plus up to
    // 8 ms of jitter.
    void send(const SentFrame& frame) {
        const std::uint64_t source = frame.frameID * 33 * ms;
        const std::uint64_t receivedAt = 5'000 * ms + source + 10 * ms + (frame.frameID % 3) * 4 * ms;
        sentTimes_[frame.frameID] = {source, receivedAt};
        run(receiver_->receiveFrame(frame.frameID, source, frame.isKeyFrame, frame.payload, receivedAt));
    }

    // The times a fresh clock gives the frames when it is asked for these frames, in this order.
    std::vector<std::int64_t> clockTimes(const std::vector<std::uint64_t>& frameIDs) const {
        PersonaAVTimingCoordinator reference;
        std::vector<std::int64_t> times;
        for (std::uint64_t frameID : frameIDs) {
            const auto [source, receivedAt] = sentTimes_.at(frameID);
            times.push_back(reference.videoPresentationHostTime(source, receivedAt));
        }
        return times;
    }

    std::vector<std::int64_t> decodedTimes() const {
        std::vector<std::int64_t> times;
        for (const auto& sample : record_->decoded) {
            times.push_back(sample.presentationTimeNanoseconds);
        }
        return times;
    }

    std::vector<bool> decodedSyncFlags() const {
        std::vector<bool> flags;
        for (const auto& sample : record_->decoded) {
            flags.push_back(!sample.isNotSync);
        }
        return flags;
    }

    asio::io_context context_;
    std::shared_ptr<FakePersonaCameraFrameDecoder::Record> record_ =
        std::make_shared<FakePersonaCameraFrameDecoder::Record>();
    std::shared_ptr<PersonaAVTimingCoordinator> clock_ = std::make_shared<PersonaAVTimingCoordinator>();
    std::unique_ptr<DecodingPersonaCameraReceiver> receiver_ =
        std::make_unique<DecodingPersonaCameraReceiver>(
            context_.get_executor(), clock_, std::make_unique<FakePersonaCameraFrameDecoder>(record_));
    std::map<std::uint64_t, std::pair<std::uint64_t, std::uint64_t>> sentTimes_;
};

TEST_F(DecodingPersonaCameraReceiverTest, FramesBeforeTheFormatAreDecodedInOrderFromTheFirstKeyFrame) {
    for (const SentFrame& frame :
         std::vector<SentFrame>{{1, false}, {2, false}, {3, true}, {4, false}, {5, false}}) {
        send(frame);
    }
    EXPECT_TRUE(record_->decoded.empty());

    EXPECT_EQ(updateFormat(h264Format()), 5u);
    ASSERT_EQ(record_->decoded.size(), 3u);
    EXPECT_EQ(decodedSyncFlags(), (std::vector<bool>{true, false, false}));
    // Times come from the clock with each frame's own arrival time; the dropped delta frames fed it too.
    const auto times = clockTimes({1, 2, 3, 4, 5});
    EXPECT_EQ(decodedTimes(), (std::vector<std::int64_t>{times[2], times[3], times[4]}));
    for (const auto& sample : record_->decoded) {
        EXPECT_EQ(sample.durationNanoseconds, 1'000'000'000 / 30);
        EXPECT_TRUE(sample.displaysImmediately);
    }
    EXPECT_EQ(record_->decoded[0].annexBPayload, (Bytes{0, 0, 0, 1, 0x65, 0x5a, 0x5a}));
    EXPECT_EQ(*record_->decoded[0].formatDescription, *PersonaCameraFormatDescription::make(h264Format()));
    EXPECT_EQ(record_->invalidationCount, 1);

    // Once decoding, frames go straight through.
    send({6, false});
    EXPECT_EQ(record_->decoded.size(), 4u);
    EXPECT_EQ(record_->decoded.back().presentationTimeNanoseconds, clockTimes({1, 2, 3, 4, 5, 6}).back());
    EXPECT_EQ(updateFormat(h264Format()), std::nullopt) << "nothing was waiting";
}

TEST_F(DecodingPersonaCameraReceiverTest, RefusedFormatsThrowTheirStatusAndKeepThePreviousFormat) {
    ASSERT_EQ(updateFormat(h264Format()), std::nullopt);
    send({1, true});
    ASSERT_EQ(record_->decoded.size(), 1u);

    auto oneSet = h264Format();
    oneSet.parameterSets.pop_back();
    auto oddLength = h264Format(3);
    auto withoutPictureSet = h264Format();
    withoutPictureSet.parameterSets[1] = {0x06, 0x05};
    auto emptySet = h264Format();
    emptySet.parameterSets.push_back({});
    auto hevcWithH264Sets = h264Format();
    hevcWithH264Sets.codec = StreamCodec::hevc;
    struct Case {
        const char* name;
        PersonaCameraFormatDescriptionMessage format;
        std::int32_t status;
    };
    const std::vector<Case> cases{
        {"one parameter set", oneSet, -50},
        {"no parameter sets", {StreamCodec::hevc, 1, 1, 4, {}}, -50},
        {"length field of 3 bytes", oddLength, PersonaCameraFormatDescription::invalidParameterSetsStatus},
        {"no picture parameter set", withoutPictureSet,
         PersonaCameraFormatDescription::invalidParameterSetsStatus},
        {"an empty parameter set", emptySet, PersonaCameraFormatDescription::invalidParameterSetsStatus},
        {"HEVC without a video parameter set", hevcWithH264Sets,
         PersonaCameraFormatDescription::invalidParameterSetsStatus},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        try {
            updateFormat(testCase.format);
            ADD_FAILURE() << "accepted";
        } catch (const PersonaCameraReceiveError& error) {
            EXPECT_EQ(error.errorCase(), PersonaCameraReceiveError::Case::invalidFormatDescription);
            EXPECT_EQ(error.status(), testCase.status);
        }
    }
    // Still decoding with the first format: a delta frame passes, nothing was invalidated.
    send({2, false});
    EXPECT_EQ(record_->decoded.size(), 2u);
    EXPECT_EQ(record_->invalidationCount, 1);
}

TEST_F(DecodingPersonaCameraReceiverTest, AnEqualFormatAgainStillWaitsForTheNextKeyFrame) {
    updateFormat(h264Format());
    send({1, true});
    updateFormat(h264Format());
    EXPECT_EQ(record_->invalidationCount, 2);
    send({2, false});
    send({3, true});
    send({4, false});
    EXPECT_EQ(decodedSyncFlags(), (std::vector<bool>{true, true, false}));
}

TEST_F(DecodingPersonaCameraReceiverTest, AMalformedKeyFrameIsDroppedAndKeepsTheGateShut) {
    updateFormat(h264Format());
    struct Case {
        const char* name;
        Bytes payload;
    };
    const std::vector<Case> cases{
        {"empty", {}},
        {"zero length", {0, 0, 0, 0, 0x65}},
        {"length past the end", {0, 0, 0, 9, 0x65, 1, 2}},
        {"truncated length", {0, 0, 0, 1, 0x65, 0, 0}},
    };
    std::uint64_t frameID = 0;
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        send({++frameID, true, testCase.payload});
        send({++frameID, false});
        EXPECT_TRUE(record_->decoded.empty());
    }
    send({++frameID, true});
    send({++frameID, false});
    EXPECT_EQ(decodedSyncFlags(), (std::vector<bool>{true, false}));
    // Once decoding, a malformed delta frame is dropped alone.
    send({++frameID, false, {0, 0, 0, 0}});
    send({++frameID, false});
    EXPECT_EQ(record_->decoded.size(), 3u);
}

TEST_F(DecodingPersonaCameraReceiverTest, AFailedPreparationDropsTheFrameButTheKeyFrameOpensTheGate) {
    updateFormat(h264Format());
    record_->preparesSucceed = false;
    send({1, true});
    EXPECT_TRUE(record_->decoded.empty());
    record_->preparesSucceed = true;
    send({2, false});
    EXPECT_EQ(record_->decoded.size(), 1u);
    EXPECT_EQ(record_->prepared.size(), 2u);
}

TEST_F(DecodingPersonaCameraReceiverTest, ResetForgetsTheFormatAndTheWaitingFrames) {
    updateFormat(h264Format());
    send({1, true});
    run(receiver_->reset());
    EXPECT_EQ(record_->invalidationCount, 2);

    // Without a format frames wait again; a second reset drops them.
    send({2, true});
    EXPECT_EQ(record_->decoded.size(), 1u);
    run(receiver_->reset());
    EXPECT_EQ(updateFormat(h264Format()), std::nullopt);
    EXPECT_EQ(record_->decoded.size(), 1u);

    // After a reset the gate is shut again.
    run(receiver_->reset());
    send({3, false});
    EXPECT_EQ(updateFormat(h264Format()), 3u);
    EXPECT_EQ(record_->decoded.size(), 1u);
}

TEST_F(DecodingPersonaCameraReceiverTest, FramesWaitingForAFormatAreBoundedByBytesDroppingTheOldest) {
    // Six key frames of 7 MiB and a small delta frame: the newest four and the delta fit in 32 MiB.
    const std::size_t frameBytes = 7 * 1024 * 1024;
    for (std::uint64_t frameID = 1; frameID <= 6; ++frameID) {
        send({frameID, true, nalPayload(frameBytes - 4, 0x65)});
    }
    send({7, false, nalPayload(1, 0x41)});
    EXPECT_EQ(updateFormat(h264Format()), 7u) << "the last frame taken out";
    EXPECT_EQ(decodedTimes(), clockTimes({3, 4, 5, 6, 7}))
        << "the oldest frames went, the newest stayed in order";
}

}  // namespace
}  // namespace quillbridge
