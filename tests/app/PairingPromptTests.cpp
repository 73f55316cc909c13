// The pairing prompt on Qt's off-screen platform, around a recorder made of fakes: the view's countdown,
// expiry and locked states, its code filter and its two buttons; the detached window following the prompt;
// the host notifications against an in-memory notification centre.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <QApplication>
#include <QTest>

#include "AppTestDoubles.hpp"
#include "app/HostNotificationController.hpp"
#include "app/PairingPromptPresenter.hpp"
#include "app/PairingPromptView.hpp"
#include "support/app/FakeHostNotificationCenter.hpp"

namespace quillbridge {
namespace {

using Border = PairingPromptView::BoxBorder;

HostNotificationRequest shownAs(std::string identifier) {
    HostNotificationRequest request;
    request.identifier = std::move(identifier);
    return request;
}

void processQtEvents() {
    for (int round = 0; round < 3; ++round) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }
}

class PairingPromptTest : public AppTest {
protected:
    void SetUp() override { makeRecorder(); }
    // Windows closed on a later turn go before the recorder's main actor does.
    void TearDown() override { processQtEvents(); }

    ScreenRecorder::PairingPrompt makePrompt(double secondsLeft = 60, int attempts = 3) {
        ScreenRecorder::PairingPrompt prompt;
        prompt.id = Uuid::random();
        prompt.peerID = Uuid::random();
        prompt.peerName = "Robin's <b>Vision Pro</b>";
        prompt.remainingAttempts = attempts;
        prompt.expiresAt = now.addingSeconds(secondsLeft);
        return prompt;
    }

    void publish(std::optional<ScreenRecorder::PairingPrompt> prompt) {
        recorder->handlePairingPrompt(std::move(prompt));
        settle();
        processQtEvents();
    }

    // Runs the tasks the view started and what they started on the fake session.
    std::vector<std::string> pairingCalls() {
        settle();
        std::vector<std::string> selected;
        for (const auto& call : session->calls) {
            if (call.starts_with("submitPairingCode") || call == "cancelPairing") {
                selected.push_back(call);
            }
        }
        return selected;
    }

    PairingPromptView::CurrentDate dateSource() {
        return [this] { return now; };
    }

    std::unique_ptr<PairingPromptView> makeView() {
        auto view =
            std::make_unique<PairingPromptView>(recorder, context.get_executor(), nullptr, dateSource());
        view->resize(420, 360);
        view->show();
        view->activateWindow();
        processQtEvents();
        return view;
    }

    Date now = Date::fromUnixSeconds(1'800'000'000.25);
};

// --- The view
// -----------------------------------------------------------------------------------------------

TEST_F(PairingPromptTest, ViewShowsNothingWithoutAPromptAndTheAskerWithOne) {
    auto view = makeView();
    EXPECT_FALSE(view->statusLabel()->isVisibleTo(view.get()));

    publish(makePrompt(125, 4));
    EXPECT_TRUE(view->statusLabel()->isVisibleTo(view.get()));
    EXPECT_EQ(view->peerNameLabel()->text(), QStringLiteral("Robin's <b>Vision Pro</b>"));
    EXPECT_EQ(view->peerNameLabel()->textFormat(), Qt::PlainText) << "the headset's name is shown as it is";
    EXPECT_EQ(view->statusLabel()->text(), QStringLiteral("Time remaining: 2:05"));
    EXPECT_EQ(view->remainingAttemptsLabel()->text(), QStringLiteral("Remaining attempts: 4"));

    publish(std::nullopt);
    EXPECT_FALSE(view->statusLabel()->isVisibleTo(view.get()));
}

TEST_F(PairingPromptTest, CountdownTextAndExpiryFollowTheWholeSecondsLeft) {
    struct Case {
        double secondsLeft;
        const char* status;
        bool expired;
    };
    const Case cases[] = {
        {600, "Time remaining: 10:00", false},   {125, "Time remaining: 2:05", false},
        {59.999, "Time remaining: 0:59", false}, {1.0, "Time remaining: 0:01", false},
        {1.5, "Time remaining: 0:01", false},    {0.999, "This PIN has timed out.", true},
        {0, "This PIN has timed out.", true},    {-30, "This PIN has timed out.", true},
    };
    auto view = makeView();
    for (const auto& item : cases) {
        publish(makePrompt(item.secondsLeft));
        EXPECT_EQ(view->statusLabel()->text().toStdString(), item.status) << item.secondsLeft;
        EXPECT_EQ(view->isStatusAlarming(), item.expired) << item.secondsLeft;
        EXPECT_EQ(view->codeField()->isEnabled(), !item.expired) << item.secondsLeft;
    }
    EXPECT_EQ(PairingPromptView::countdownText(0), "0:00");
    EXPECT_EQ(PairingPromptView::countdownText(-5), "0:00") << "never a negative time";
    EXPECT_EQ(PairingPromptView::countdownText(3599), "59:59");
}

TEST_F(PairingPromptTest, EntryLocksAtTheSecondTheCodeTimesOutBeforeTheSessionSaysSo) {
    auto view = makeView();
    publish(makePrompt(2));
    QTest::keyClicks(view->codeField(), QStringLiteral("123456"));
    EXPECT_TRUE(view->submitButton()->isEnabled());

    now = now.addingSeconds(0.5);
    view->refresh();
    EXPECT_EQ(view->statusLabel()->text(), QStringLiteral("Time remaining: 0:01"));
    EXPECT_TRUE(view->submitButton()->isEnabled());

    // Just under one whole second left: expired by the clock, whatever the session's flag says.
    now = now.addingSeconds(0.5001);
    view->refresh();
    EXPECT_EQ(view->statusLabel()->text(), QStringLiteral("This PIN has timed out."));
    EXPECT_TRUE(view->isStatusAlarming());
    EXPECT_FALSE(view->submitButton()->isEnabled());
    EXPECT_FALSE(view->codeField()->isEnabled());
    for (int index = 0; index < PairingPromptView::codeLength; ++index) {
        EXPECT_EQ(view->boxBorder(index), Border::locked) << index;
    }
    view->submitButton()->click();
    QTest::keyClick(view->codeField(), Qt::Key_Return);
    EXPECT_TRUE(pairingCalls().empty());

    // The session's flag alone expires it too, with time to spare.
    publish(makePrompt(300));
    auto expired = *recorder->pairingPrompt();
    expired.isExpired = true;
    publish(expired);
    EXPECT_EQ(view->statusLabel()->text(), QStringLiteral("This PIN has timed out."));
    EXPECT_FALSE(view->codeField()->isEnabled());
}

TEST_F(PairingPromptTest, CodeFilterKeepsOnlyAsciiDigitsAndAtMostSix) {
    struct Case {
        const char* typed;
        const char* kept;
    };
    const Case cases[] = {
        {"123456", "123456"},
        {"12 34 56", "123456"},
        {"ab1-2+3 c4d5e6", "123456"},
        {"1234567890", "123456"},
        {"letters", ""},
        // Digits of other scripts never reach the session, which compares ASCII digits.
        {"\uFF11\uFF12\uFF13\uFF14\uFF15\uFF16", ""},
        {"\u0661\u0662\u0663\u0664\u0665\u0666", ""},
        {"1\u06612\u09e73\u0e514", "1234"},
        {"\u00b2\u00bd\u2167", ""},
    };
    for (const auto& item : cases) {
        EXPECT_EQ(PairingPromptView::filteredPairingCode(QString::fromUtf8(item.typed)).toStdString(),
                  item.kept)
            << item.typed;
    }

    // Through the field, typed and pasted.
    auto view = makeView();
    publish(makePrompt());
    QTest::keyClicks(view->codeField(), QStringLiteral("1a2 b3"));
    EXPECT_EQ(view->pairingCode(), QStringLiteral("123"));
    EXPECT_EQ(view->codeField()->text(), QStringLiteral("123"));
    view->codeField()->insert(QStringLiteral("4 5 6 7 8"));
    EXPECT_EQ(view->pairingCode(), QStringLiteral("123456"));
    EXPECT_EQ(view->codeField()->text(), QStringLiteral("123456"));
    view->codeField()->setText(QString::fromUtf8("\uFF11\uFF12\uFF13\uFF14\uFF15\uFF16"));
    EXPECT_EQ(view->pairingCode(), QString());
    EXPECT_FALSE(view->submitButton()->isEnabled());
}

TEST_F(PairingPromptTest, BoxesShowTheCodeAndMarkTheNextBoxToFill) {
    auto view = makeView();
    publish(makePrompt());
    EXPECT_EQ(view->boxBorder(0), Border::active);
    EXPECT_EQ(view->boxBorder(1), Border::empty);

    QTest::keyClicks(view->codeField(), QStringLiteral("749"));
    EXPECT_EQ(view->boxText(0), QStringLiteral("7"));
    EXPECT_EQ(view->boxText(2), QStringLiteral("9"));
    EXPECT_EQ(view->boxText(3), QString());
    EXPECT_EQ(view->boxBorder(2), Border::filled);
    EXPECT_EQ(view->boxBorder(3), Border::active);
    EXPECT_EQ(view->boxBorder(4), Border::empty);

    QTest::keyClicks(view->codeField(), QStringLiteral("012"));
    for (int index = 0; index < PairingPromptView::codeLength; ++index) {
        EXPECT_EQ(view->boxBorder(index), Border::filled) << "no box is active with six entered: " << index;
    }
}

TEST_F(PairingPromptTest, SubmitNeedsSixDigitsAndReachesTheRecorderFromButtonAndReturn) {
    auto view = makeView();
    publish(makePrompt());
    QTest::keyClicks(view->codeField(), QStringLiteral("12345"));
    EXPECT_FALSE(view->submitButton()->isEnabled());
    QTest::keyClick(view->codeField(), Qt::Key_Return);
    EXPECT_TRUE(pairingCalls().empty()) << "Return does nothing with five digits";

    QTest::keyClicks(view->codeField(), QStringLiteral("6"));
    EXPECT_TRUE(view->submitButton()->isEnabled());
    QTest::mouseClick(view->submitButton(), Qt::LeftButton);
    EXPECT_EQ(pairingCalls(), std::vector<std::string>{"submitPairingCode=123456"});
    EXPECT_EQ(view->pairingCode(), QStringLiteral("123456")) << "the typed code stays";

    QTest::keyClick(view->codeField(), Qt::Key_Return);
    EXPECT_EQ(pairingCalls(),
              (std::vector<std::string>{"submitPairingCode=123456", "submitPairingCode=123456"}));
}

TEST_F(PairingPromptTest, VerifyingLocksTheEntryButCancelWorksAndARejectedCodeStartsOver) {
    auto view = makeView();
    auto prompt = makePrompt(60, 3);
    publish(prompt);
    QTest::keyClicks(view->codeField(), QStringLiteral("123456"));

    prompt.isVerifying = true;
    publish(prompt);
    EXPECT_EQ(view->statusLabel()->text(), QStringLiteral("Verifying PIN\u2026"));
    EXPECT_FALSE(view->isStatusAlarming());
    EXPECT_FALSE(view->codeField()->isEnabled());
    EXPECT_FALSE(view->submitButton()->isEnabled());
    EXPECT_EQ(view->boxBorder(0), Border::locked);
    EXPECT_EQ(view->pairingCode(), QStringLiteral("123456")) << "locking keeps the code";

    // Rejected: the session publishes the prompt again, open, with fewer attempts.
    prompt.isVerifying = false;
    prompt.remainingAttempts = 2;
    publish(prompt);
    EXPECT_EQ(view->pairingCode(), QString());
    EXPECT_EQ(view->boxText(0), QString());
    EXPECT_TRUE(view->codeField()->isEnabled());
    EXPECT_TRUE(view->codeField()->hasFocus());
    EXPECT_EQ(view->remainingAttemptsLabel()->text(), QStringLiteral("Remaining attempts: 2"));

    prompt.isVerifying = true;
    publish(prompt);
    EXPECT_TRUE(view->cancelButton()->isEnabled());
    QTest::mouseClick(view->cancelButton(), Qt::LeftButton);
    EXPECT_EQ(pairingCalls(), std::vector<std::string>{"cancelPairing"});
}

TEST_F(PairingPromptTest, CancelEmptiesTheCodeAndANewPromptStartsEmpty) {
    auto view = makeView();
    publish(makePrompt());
    QTest::keyClicks(view->codeField(), QStringLiteral("1234"));
    QTest::mouseClick(view->cancelButton(), Qt::LeftButton);
    EXPECT_EQ(view->pairingCode(), QString());
    EXPECT_EQ(pairingCalls(), std::vector<std::string>{"cancelPairing"});

    QTest::keyClicks(view->codeField(), QStringLiteral("98"));
    publish(makePrompt());
    EXPECT_EQ(view->pairingCode(), QString()) << "another prompt, another code";
    EXPECT_EQ(view->codeField()->text(), QString());
}

// --- The detached window
// ------------------------------------------------------------------------------------

class PairingPromptPresenterTest : public PairingPromptTest {
protected:
    std::unique_ptr<PairingPromptPresenter> makePresenter() {
        return std::make_unique<PairingPromptPresenter>(recorder, activationController,
                                                        context.get_executor(), dateSource());
    }
};

TEST_F(PairingPromptPresenterTest, OpensOnlyForTheCurrentUnexpiredPrompt) {
    auto presenter = makePresenter();
    presenter->presentPairingPromptWindow(std::nullopt);
    EXPECT_EQ(presenter->pairingPromptWindow(), nullptr) << "no prompt";

    auto prompt = makePrompt();
    prompt.isExpired = true;
    publish(prompt);
    presenter->presentPairingPromptWindow(prompt.id);
    EXPECT_EQ(presenter->pairingPromptWindow(), nullptr) << "expired";

    prompt = makePrompt();
    publish(prompt);
    presenter->presentPairingPromptWindow(Uuid::random());
    EXPECT_EQ(presenter->pairingPromptWindow(), nullptr) << "an earlier prompt's notification";
    EXPECT_FALSE(presenter->isPairingPromptInWindow());
    EXPECT_TRUE(activation->policyChanges.empty());

    int stateChanges = 0;
    presenter->addWindowStateObserver([&] { ++stateChanges; });
    presenter->presentPairingPromptWindow(prompt.id);
    processQtEvents();
    QWidget* window = presenter->pairingPromptWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Pair Vision Pro"));
    EXPECT_EQ(window->size(), QSize(420, 360));
    EXPECT_TRUE(window->windowFlags().testFlag(Qt::WindowCloseButtonHint));
    EXPECT_FALSE(window->windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(window->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_NE(window->findChild<PairingPromptView*>(), nullptr);
    EXPECT_TRUE(presenter->isPairingPromptInWindow());
    EXPECT_EQ(stateChanges, 1);
    EXPECT_TRUE(activationController->isPresented(WindowRole::pairingPrompt));
    EXPECT_EQ(activation->policy, ActivationPolicy::regular);

    // Opened again (no identifier: the current prompt): the same window, brought forward.
    const int activations = activation->activations;
    presenter->presentPairingPromptWindow(std::nullopt);
    EXPECT_EQ(presenter->pairingPromptWindow(), window);
    EXPECT_EQ(activation->activations, activations + 1);
    EXPECT_EQ(stateChanges, 1);
}

TEST_F(PairingPromptPresenterTest, ClosesItselfWhenThePromptEndsOrExpiresButStaysAcrossUpdates) {
    auto presenter = makePresenter();
    for (const bool expire : {false, true}) {
        auto prompt = makePrompt();
        publish(prompt);
        presenter->presentPairingPromptWindow(prompt.id);
        processQtEvents();
        QPointer<QWidget> window = presenter->pairingPromptWindow();
        ASSERT_TRUE(window);

        prompt.isVerifying = true;
        publish(prompt);
        publish(makePrompt());
        EXPECT_EQ(presenter->pairingPromptWindow(), window.data()) << "updates and a new prompt keep it open";

        if (expire) {
            auto expired = *recorder->pairingPrompt();
            expired.isExpired = true;
            publish(expired);
        } else {
            publish(std::nullopt);
        }
        EXPECT_TRUE(window.isNull()) << "closed and released, expired: " << expire;
        EXPECT_EQ(presenter->pairingPromptWindow(), nullptr);
        EXPECT_FALSE(presenter->isPairingPromptInWindow());
        EXPECT_FALSE(activationController->isPresented(WindowRole::pairingPrompt));
        EXPECT_EQ(activation->policy, ActivationPolicy::accessory);
    }
}

TEST_F(PairingPromptPresenterTest, UserClosingTheWindowKeepsThePairingAndAllowsANewWindow) {
    auto presenter = makePresenter();
    auto prompt = makePrompt();
    publish(prompt);
    presenter->presentPairingPromptWindow(prompt.id);
    processQtEvents();
    QPointer<QWidget> window = presenter->pairingPromptWindow();
    ASSERT_TRUE(window);
    window->close();
    processQtEvents();
    EXPECT_TRUE(window.isNull());
    EXPECT_FALSE(presenter->isPairingPromptInWindow());
    EXPECT_FALSE(activationController->isPresented(WindowRole::pairingPrompt));
    EXPECT_TRUE(pairingCalls().empty()) << "closing is not cancelling";
    EXPECT_TRUE(recorder->pairingPrompt().has_value());

    presenter->presentPairingPromptWindow(prompt.id);
    processQtEvents();
    EXPECT_NE(presenter->pairingPromptWindow(), nullptr);
    EXPECT_TRUE(presenter->isPairingPromptInWindow());
}

// --- Notifications
// ------------------------------------------------------------------------------------------

class HostNotificationControllerTest : public PairingPromptPresenterTest {
protected:
    void SetUp() override {
        PairingPromptPresenterTest::SetUp();
        presenter = makePresenter();
    }

    std::unique_ptr<HostNotificationController> makeController() {
        HostNotificationController::UpdateControllerLink link;
        link.setScheduledUpdateDidBecomeAvailable = [this](auto action) {
            scheduledUpdateAction = std::move(action);
        };
        link.hasUpdaterController = [this] { return hasUpdater; };
        link.checkForUpdatesWithInterface = [this] { ++interactiveUpdateChecks; };
        return std::make_unique<HostNotificationController>(HostNotificationController::Dependencies{
            context.get_executor(), recorder, presenter, link, center, defaults});
    }

    std::shared_ptr<FakeHostNotificationCenter> center = std::make_shared<FakeHostNotificationCenter>();
    std::shared_ptr<PairingPromptPresenter> presenter;
    HostNotificationController::UpdateControllerLink::ScheduledUpdateAction scheduledUpdateAction;
    bool hasUpdater = true;
    int interactiveUpdateChecks = 0;
};

TEST_F(HostNotificationControllerTest, StartUpRemovesEveryPairingNotificationAndPostsNothing) {
    center->delivered = {shownAs("pairing"), shownAs("pairing-7"), shownAs("software-update-2")};
    center->pending = {"pairing-old", "software-update"};
    publish(makePrompt());
    auto controller = makeController();
    settle();
    EXPECT_EQ(center->deliveredIdentifiers(), std::vector<std::string>{"software-update-2"});
    EXPECT_EQ(center->pending, std::vector<std::string>{"software-update"});
    EXPECT_TRUE(center->added.empty()) << "the prompt pending at start-up is not announced";
    EXPECT_EQ(center->delegate, controller.get());
    controller.reset();
    EXPECT_EQ(center->delegate, nullptr);
}

TEST_F(HostNotificationControllerTest, PairingNotificationFollowsThePrompt) {
    auto controller = makeController();
    settle();
    center->calls.clear();

    // Clearing with nothing posted removes nothing.
    publish(std::nullopt);
    auto prompt = makePrompt(60, 3);
    publish(prompt);
    ASSERT_EQ(center->added.size(), 1U);
    const auto& posted = center->added.back();
    EXPECT_EQ(posted.identifier, "pairing");
    EXPECT_EQ(posted.title, "Pair Vision Pro");
    EXPECT_EQ(posted.body, "Robin's <b>Vision Pro</b> is requesting to pair. Click to enter the PIN.");
    EXPECT_TRUE(posted.playsDefaultSound);
    EXPECT_EQ(posted.userInfo, (HostNotificationUserInfo{{"pairingPromptID", prompt.id.string()}}));
    EXPECT_EQ(controller->presentedPromptID(), prompt.id);
    EXPECT_EQ(center->calls, std::vector<std::string>{"add pairing"});

    prompt.remainingAttempts = 2;
    publish(prompt);
    prompt.isVerifying = true;
    publish(prompt);
    EXPECT_EQ(center->added.size(), 1U) << "the same prompt posts nothing new";

    auto replacement = makePrompt();
    publish(replacement);
    EXPECT_EQ(center->calls, (std::vector<std::string>{"add pairing", "removeDelivered pairing",
                                                       "removePending pairing", "add pairing"}));
    EXPECT_EQ(center->added.back().userInfo.at("pairingPromptID"), replacement.id.string());

    replacement.isExpired = true;
    publish(replacement);
    EXPECT_TRUE(center->delivered.empty()) << "expired";
    EXPECT_FALSE(controller->presentedPromptID().has_value());

    publish(makePrompt());
    publish(std::nullopt);
    EXPECT_TRUE(center->delivered.empty()) << "withdrawn";
    EXPECT_FALSE(controller->presentedPromptID().has_value());
}

TEST_F(HostNotificationControllerTest, EachBuildIsAnnouncedOnceAcrossRestartsAndReplacesTheLastOne) {
    auto controller = makeController();
    ASSERT_TRUE(scheduledUpdateAction);
    scheduledUpdateAction("2.4", "240");
    ASSERT_EQ(center->added.size(), 1U);
    EXPECT_EQ(center->added[0], (HostNotificationRequest{
                                    .identifier = "software-update",
                                    .title = "Quillbridge Host Update Available",
                                    .body = "Version 2.4 is available. Click to review and install.",
                                    .playsDefaultSound = false,
                                    .userInfo = {{"softwareUpdateBuild", "240"}},
                                }));
    EXPECT_EQ(defaults->string("QuillbridgeLastNotifiedSoftwareUpdateBuild"), "240");
    scheduledUpdateAction("2.4", "240");
    EXPECT_EQ(center->added.size(), 1U);

    // A restart: a new controller over the same defaults.
    controller = makeController();
    scheduledUpdateAction("2.4", "240");
    EXPECT_EQ(center->added.size(), 1U);

    center->delivered.push_back(shownAs("software-update-239"));
    center->pending = {"software-update-238"};
    scheduledUpdateAction("2.5", "250");
    ASSERT_EQ(center->added.size(), 2U);
    EXPECT_EQ(center->deliveredIdentifiers(), std::vector<std::string>{"software-update"});
    EXPECT_EQ(center->delivered[0].userInfo.at("softwareUpdateBuild"), "250");
    EXPECT_TRUE(center->pending.empty());

    // The action holds the controller weakly.
    controller.reset();
    scheduledUpdateAction("2.6", "260");
    EXPECT_EQ(center->added.size(), 2U);
}

TEST_F(HostNotificationControllerTest, AuthorisationAndForegroundPresentation) {
    auto controller = makeController();
    EXPECT_TRUE(center->authorizationRequests.empty()) << "asked only once the permission flow completes";
    controller->requestAuthorization();
    EXPECT_EQ(center->authorizationRequests, (std::vector<std::pair<bool, bool>>{{true, true}}));
    center->grantsAuthorization = false;
    controller->requestAuthorization();

    std::optional<HostNotificationPresentationOptions> answer;
    controller->willPresentNotification({{"softwareUpdateBuild", "1"}},
                                        [&](auto options) { answer = options; });
    EXPECT_EQ(answer, (HostNotificationPresentationOptions{.banner = true}));
    controller->willPresentNotification({{"pairingPromptID", "x"}}, [&](auto options) { answer = options; });
    EXPECT_EQ(answer, (HostNotificationPresentationOptions{.banner = true, .sound = true}));
}

TEST_F(HostNotificationControllerTest, ClicksOpenThePromptOrTheUpdaterCheck) {
    auto controller = makeController();
    auto prompt = makePrompt();
    publish(prompt);

    struct Case {
        const char* name;
        HostNotificationUserInfo userInfo;
        bool opens;
    };
    const Case cases[] = {
        {"another prompt", {{"pairingPromptID", Uuid::random().string()}}, false},
        {"this prompt", {{"pairingPromptID", prompt.id.string()}}, true},
        {"no identifier: the current prompt", {}, true},
        {"an identifier that is no UUID", {{"pairingPromptID", "not-a-uuid"}}, true},
    };
    for (const auto& item : cases) {
        int completions = 0;
        center->click(item.userInfo, [&] { ++completions; });
        settle();
        processQtEvents();
        EXPECT_EQ(completions, 1) << item.name;
        EXPECT_EQ(presenter->pairingPromptWindow() != nullptr, item.opens) << item.name;
        if (auto* window = presenter->pairingPromptWindow()) {
            window->close();
            processQtEvents();
        }
    }

    int completions = 0;
    hasUpdater = false;
    center->click({{"softwareUpdateBuild", "250"}}, [&] { ++completions; });
    settle();
    EXPECT_EQ(interactiveUpdateChecks, 0) << "updates not configured";
    hasUpdater = true;
    center->click({{"softwareUpdateBuild", "250"}}, [&] { ++completions; });
    settle();
    EXPECT_EQ(interactiveUpdateChecks, 1);
    EXPECT_EQ(completions, 2);
    EXPECT_EQ(presenter->pairingPromptWindow(), nullptr);
}

}  // namespace
}  // namespace quillbridge
