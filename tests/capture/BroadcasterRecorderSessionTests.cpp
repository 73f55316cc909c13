// The recorder's session port over a real broadcaster built on in-memory fakes: every call reaches the
// broadcaster and its effect shows there, and the streams the recorder reads are the broadcaster's own.

#include "capture/BroadcasterRecorderSession.hpp"

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "pairing/PairedPeerStore.hpp"
#include "session/ScreenStreamBroadcasterFixture.hpp"
#include "support/pairing/ClientPairingExchange.hpp"

namespace quillbridge {
namespace {

const Bytes headsetCertificate{0x30, 0x82, 0x01};

class BroadcasterRecorderSessionTest : public ScreenStreamBroadcasterFixture {
protected:
    void SetUp() override {
        ScreenStreamBroadcasterFixture::SetUp();
        session = std::make_unique<BroadcasterRecorderSession>(broadcaster);
    }

    void TearDown() override {
        session.reset();
        ScreenStreamBroadcasterFixture::TearDown();
    }

    PairedPeerStore store() { return PairedPeerStore(defaults, secrets, PairingRole::mac); }

    // The next message from the host, which must be of this case.
    template <Case C>
    auto expect(Headset& headset) {
        auto message = receive(headset);
        using Payload = std::decay_t<decltype(*message->template get<C>())>;
        if (!message || message->messageCase() != C) {
            ADD_FAILURE() << "unexpected message case " << (message ? int(message->messageCase()) : -1);
            return Payload{};
        }
        return Payload(*message->template get<C>());
    }

    // A headset connects and asks to pair; the host shows the prompt.
    Headset startPairing() {
        startListening();
        auto headset = connect();
        identity = LocalDeviceIdentity{Uuid::random(), "Vision"};
        client =
            std::make_unique<ClientPairingExchange>(identity, P256SigningKey::generate(), headsetCertificate,
                                                    broadcaster->localPeerIdentity().id, Date::now());
        send(headset, StreamControlMessage::make<Case::hello>(client->hello()));
        expect<Case::hello>(headset);
        send(headset, StreamControlMessage::make<Case::pairingStart>(client->start()));
        const auto challenge = expect<Case::pairingChallenge>(headset);
        EXPECT_TRUE(client->receiveChallenge(challenge, *Access::tlsCertificateDER(*broadcaster)));
        auto round = client->openRound("123456");
        EXPECT_TRUE(round.has_value());
        if (round) {
            send(headset, StreamControlMessage::make<Case::pairingClientChallenge>(*round));
        }
        return headset;
    }

    std::unique_ptr<BroadcasterRecorderSession> session;
    LocalDeviceIdentity identity;
    std::unique_ptr<ClientPairingExchange> client;
};

TEST_F(BroadcasterRecorderSessionTest, StreamsAreTheBroadcastersOwn) {
    EXPECT_EQ(&session->updates(), &broadcaster->updates());
    EXPECT_EQ(&session->configurations(), &broadcaster->configurations());
    EXPECT_EQ(&session->pairingPrompts(), &broadcaster->pairingPrompts());
    EXPECT_EQ(&session->personaCameraSharingStates(), &broadcaster->personaCameraSharingStates());
    EXPECT_EQ(&session->microphoneSharingStates(), &broadcaster->microphoneSharingStates());
    EXPECT_EQ(&session->pairedPeerChanges(), &broadcaster->pairedPeerChanges());
    EXPECT_THROW(BroadcasterRecorderSession(nullptr), std::invalid_argument);
}

TEST_F(BroadcasterRecorderSessionTest, ListeningConnectionAndEndingASessionReachTheBroadcaster) {
    run(session->startObservingKeyboardLayoutChanges());
    run(session->startListening());
    drain();
    ASSERT_NE(listener(), nullptr);
    EXPECT_FALSE(run(session->hasConnection()));

    auto headset = connect();
    EXPECT_TRUE(run(session->hasConnection()));
    run(session->stopListeningIfNotConnected());
    drain();
    EXPECT_FALSE(listener()->isStopped()) << "a connected headset keeps the listener";

    updates();
    const int listensBefore = transport.listenCount();
    run(session->endSessionKeepingListener());
    drain();
    EXPECT_TRUE(isClosed(headset));
    EXPECT_FALSE(run(session->hasConnection()));
    const auto states = updates();
    ASSERT_FALSE(states.empty());
    EXPECT_EQ(states.front(), State::idle());
    EXPECT_EQ(states.back(), State::listening());
    EXPECT_EQ(transport.listenCount(), listensBefore) << "the running listener is kept";

    run(session->stop());
    drain();
    EXPECT_FALSE(run(session->hasConnection()));
    EXPECT_FALSE(run(session->wakeDisplayForActiveConnection()));
}

TEST_F(BroadcasterRecorderSessionTest, PeerToPeerFlagIsStoredOnTheBroadcaster) {
    EXPECT_FALSE(run(session->peerToPeerEnabled()));
    run(session->setPeerToPeerEnabled(true));
    EXPECT_TRUE(run(broadcaster->peerToPeerEnabled()));
    EXPECT_TRUE(run(session->peerToPeerEnabled()));
}

TEST_F(BroadcasterRecorderSessionTest, PairedPeersAreReadFromTheStoreAndForgottenThere) {
    EXPECT_TRUE(run(session->pairedPeers()).empty());
    const Uuid first = Uuid::random();
    const Uuid second = Uuid::random();
    store().upsert(PairedPeerRecord{first, "Beta", Bytes(64, 1), std::nullopt, std::nullopt});
    store().upsert(PairedPeerRecord{second, "alpha", Bytes(64, 2), std::nullopt, std::nullopt});

    auto peers = run(session->pairedPeers());
    ASSERT_EQ(peers.size(), 2u);
    EXPECT_EQ(peers[0].id, second) << "sorted by name, ignoring case";
    EXPECT_EQ(peers[1].id, first);

    const auto changesBefore = session->pairedPeerChanges().bufferedCount();
    run(session->forgetPairedPeer(second));
    drain();
    peers = run(session->pairedPeers());
    ASSERT_EQ(peers.size(), 1u);
    EXPECT_EQ(peers[0].id, first);
    EXPECT_EQ(session->pairedPeerChanges().bufferedCount(), changesBefore + 1) << "the write is announced";
}

TEST_F(BroadcasterRecorderSessionTest, PairingPromptIsPublishedAndCancellingEndsTheAttempt) {
    auto headset = startPairing();
    auto prompts = taken(session->pairingPrompts());
    ASSERT_FALSE(prompts.empty());
    ASSERT_TRUE(prompts.back().has_value());
    EXPECT_EQ(prompts.back()->peerName, "Vision");
    EXPECT_EQ(prompts.back()->peerID, identity.id);

    // A code that is not six digits changes nothing.
    run(session->submitPairingCode("12a456"));
    drain();
    EXPECT_EQ(session->pairingPrompts().bufferedCount(), 0u);
    EXPECT_FALSE(receive(headset).has_value());
    EXPECT_FALSE(isClosed(headset));
    // The typed code goes to the open round.
    run(session->submitPairingCode("123456"));
    drain();
    expect<Case::pairingServerChallenge>(headset);

    run(session->cancelPairing());
    drain();
    prompts = taken(session->pairingPrompts());
    ASSERT_FALSE(prompts.empty());
    EXPECT_FALSE(prompts.back().has_value()) << "the prompt is withdrawn";
    EXPECT_EQ(expect<Case::pairingRejected>(headset), PairingFailureReason::canceled);
    EXPECT_TRUE(isClosed(headset));
    EXPECT_FALSE(run(session->hasConnection()));
}

TEST_F(BroadcasterRecorderSessionTest, ForgettingTheConnectedHeadsetEndsItsSession) {
    startListening();
    auto headset = connect();
    const Uuid id = Uuid::random();
    store().upsert(PairedPeerRecord{id, "Vision", Bytes(64, 1), std::nullopt, std::nullopt});
    send(headset, StreamControlMessage::make<Case::hello>(SessionHelloMessage{id, "Vision", false, 19, 19}));
    updates();

    run(session->forgetPairedPeer(id));
    drain();
    EXPECT_TRUE(isClosed(headset));
    const auto states = updates();
    ASSERT_FALSE(states.empty());
    EXPECT_EQ(states.front(), State::failed("Pairing removed"));
    EXPECT_TRUE(run(session->pairedPeers()).empty());
}

TEST_F(BroadcasterRecorderSessionTest, VideoSettingsGoToTheEncodingPipeline) {
    // Without a headset the pipeline is idle, so each change is taken over at once.
    run(session->applyFrameRate(30));
    EXPECT_EQ(Access::frameRate(*broadcaster), 30);
    EXPECT_FALSE(Access::pendingFrameRate(*broadcaster).has_value());
    const auto generation = Access::compressionSessionGeneration(*broadcaster);
    run(session->applyFrameRate(30));
    EXPECT_EQ(Access::compressionSessionGeneration(*broadcaster), generation)
        << "an equal rate resets nothing";
    run(session->applyFrameRate(0));
    EXPECT_EQ(Access::frameRate(*broadcaster), 1) << "at least one frame per second";

    run(session->applyVideoCodec(StreamCodec::hevc));
    EXPECT_GT(Access::compressionSessionGeneration(*broadcaster), generation);
    run(session->requestVideoEncodingPipelineReset());
    EXPECT_FALSE(Access::isVideoEncodingPipelineResetPending(*broadcaster));

    run(session->updateCapturedDisplay(CapturedDisplayReport{.displayID = 7,
                                                             .frameRate = 60,
                                                             .frame = {10, 20, 1920, 1080},
                                                             .pointSize = {1920, 1080},
                                                             .pixelSize = {3840, 2160}}));
    ASSERT_FALSE(input.displayFrames.empty());
    EXPECT_EQ(input.displayFrames.back().x, 10);
    EXPECT_EQ(input.displayFrames.back().y, 20);
    EXPECT_EQ(input.displayFrames.back().width, 1920);
    EXPECT_EQ(input.displayFrames.back().height, 1080);
    EXPECT_EQ(Access::frameRate(*broadcaster), 60);

    // Without an encoder the frame waits as the deferred one; an idle status completes nothing harmful.
    auto frame = std::make_shared<CapturedVideoFrame>();
    frame->imageBuffer = std::make_shared<CapturedPixelBuffer>();
    run(session->encodeOrDeferVideoFrame(frame));
    EXPECT_TRUE(Access::hasDeferredVideoFrame(*broadcaster));
    run(session->completePendingFrames());

    run(session->sendAudioBuffer(nullptr));
    run(session->sendAudioBuffer(std::make_shared<AudioPCMBuffer>()));
}

TEST_F(BroadcasterRecorderSessionTest, CameraAndMicrophoneRequestsFollowRevisions) {
    run(session->setPersonaCameraRequested(true, 1));
    run(session->setMicrophoneRequested(true, 1));
    EXPECT_TRUE(Access::isPersonaCameraRequested(*broadcaster));
    EXPECT_TRUE(Access::isMicrophoneRequested(*broadcaster));

    run(session->setPersonaCameraRequested(false, 1));
    run(session->setMicrophoneRequested(false, 1));
    EXPECT_TRUE(Access::isPersonaCameraRequested(*broadcaster)) << "a stale revision is ignored";
    EXPECT_TRUE(Access::isMicrophoneRequested(*broadcaster));

    run(session->setPersonaCameraRequested(false, 2));
    run(session->setMicrophoneRequested(false, 2));
    EXPECT_FALSE(Access::isPersonaCameraRequested(*broadcaster));
    EXPECT_FALSE(Access::isMicrophoneRequested(*broadcaster));
}

}  // namespace
}  // namespace quillbridge
