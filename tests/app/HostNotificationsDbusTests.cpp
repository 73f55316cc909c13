// The host notifications on a real notification service: python3-dbusmock's notification_daemon template on
// a private session bus (run-desktop-services.sh --session-bus), with the controller, the detached prompt
// window on Qt's off-screen platform and a recorder made of fakes. Without a session bus the suite skips.
#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <QApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QProcess>

#include "AppTestDoubles.hpp"
#include "app/HostNotificationController.hpp"
#include "app/PairingPromptPresenter.hpp"
#include "core/Logger.hpp"
#include "platform/linux/notifications/FreedesktopNotificationCenter.hpp"

namespace quillbridge {
namespace {

const QString mockInterface = QStringLiteral("org.freedesktop.DBus.Mock");

// One call the mock service received: its arguments in order.
using MockCall = QList<QVariant>;

class HostNotificationsDbusTest : public AppTest {
protected:
    void SetUp() override {
        if (std::getenv("DBUS_SESSION_BUS_ADDRESS") == nullptr ||
            !QDBusConnection::sessionBus().isConnected()) {
            GTEST_SKIP() << "no session bus (run through run-desktop-services.sh --session-bus)";
        }
        makeRecorder();
    }

    void TearDown() override {
        controller.reset();
        center.reset();
        presenter.reset();
        // Windows closed on a later turn go before the recorder's main actor does.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        stopService();
    }

    void startService() {
        service.setProgram(QStringLiteral("/usr/bin/python3"));
        service.setArguments({QStringLiteral("-m"), QStringLiteral("dbusmock"), QStringLiteral("--template"),
                              QStringLiteral("notification_daemon")});
        service.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        service.start();
        ASSERT_TRUE(service.waitForStarted(10000)) << "python3-dbusmock is missing";
        waitUntil([] {
            return QDBusConnection::sessionBus().interface()->isServiceRegistered(
                QString::fromUtf8(FreedesktopNotificationCenter::serviceName));
        });
        ASSERT_TRUE(QDBusConnection::sessionBus().interface()->isServiceRegistered(
            QString::fromUtf8(FreedesktopNotificationCenter::serviceName)));
    }

    void stopService() {
        if (service.state() != QProcess::NotRunning) {
            service.terminate();
            if (!service.waitForFinished(5000)) {
                service.kill();
                service.waitForFinished(5000);
            }
        }
    }

    void makeController() {
        presenter =
            std::make_shared<PairingPromptPresenter>(recorder, activationController, context.get_executor());
        center = std::make_shared<FreedesktopNotificationCenter>();
        controller = std::make_unique<HostNotificationController>(HostNotificationController::Dependencies{
            context.get_executor(), recorder, presenter, {}, center, defaults});
    }

    // Runs the main actor and Qt's events until the condition holds (bounded, so a fault cannot hang).
    template <class Condition>
    void waitUntil(Condition condition) {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!condition() && std::chrono::steady_clock::now() < limit) {
            settle();
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
    }

    QDBusMessage callMock(const QString& method, const QList<QVariant>& arguments) {
        auto message = QDBusMessage::createMethodCall(
            QString::fromUtf8(FreedesktopNotificationCenter::serviceName),
            QString::fromUtf8(FreedesktopNotificationCenter::objectPath), mockInterface, method);
        message.setArguments(arguments);
        return QDBusConnection::sessionBus().call(message, QDBus::Block, 10000);
    }

    // The calls of one method the service received, in order.
    std::vector<MockCall> callsOf(const QString& method) {
        const auto reply = callMock(QStringLiteral("GetMethodCalls"), {method});
        std::vector<MockCall> calls;
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
            ADD_FAILURE() << "GetMethodCalls failed: " << reply.errorMessage().toStdString();
            return calls;
        }
        const auto list = reply.arguments().at(0).value<QDBusArgument>();
        list.beginArray();
        while (!list.atEnd()) {
            qulonglong timestamp = 0;
            QList<QDBusVariant> arguments;
            list.beginStructure();
            list >> timestamp >> arguments;
            list.endStructure();
            MockCall call;
            for (const auto& argument : arguments) {
                call.push_back(argument.variant());
            }
            calls.push_back(call);
        }
        list.endArray();
        return calls;
    }

    static QVariantMap hintsOf(const MockCall& notify) {
        QVariantMap hints;
        notify.at(6).value<QDBusArgument>() >> hints;
        return hints;
    }

    ScreenRecorder::PairingPrompt makePrompt(std::string name) {
        ScreenRecorder::PairingPrompt prompt;
        prompt.id = Uuid::random();
        prompt.peerID = Uuid::random();
        prompt.peerName = std::move(name);
        prompt.remainingAttempts = 3;
        prompt.expiresAt = Date::now().addingSeconds(300);
        return prompt;
    }

    void publish(std::optional<ScreenRecorder::PairingPrompt> prompt) {
        recorder->handlePairingPrompt(std::move(prompt));
        settle();
    }

    QProcess service;
    std::shared_ptr<PairingPromptPresenter> presenter;
    std::shared_ptr<FreedesktopNotificationCenter> center;
    std::unique_ptr<HostNotificationController> controller;
};

std::vector<std::string> deliveredOf(HostNotificationCenter& center) {
    std::vector<std::string> identifiers;
    center.getDeliveredNotifications([&](std::vector<std::string> found) { identifiers = std::move(found); });
    return identifiers;
}

TEST_F(HostNotificationsDbusTest, PairingNotificationIsPostedReplacedClickedAndWithdrawn) {
    startService();
    makeController();

    auto first = makePrompt("Robin & Kim's <i>Vision Pro</i>");
    publish(first);
    waitUntil([&] { return deliveredOf(*center) == std::vector<std::string>{"pairing"}; });
    ASSERT_EQ(deliveredOf(*center), std::vector<std::string>{"pairing"});
    auto notifies = callsOf(QStringLiteral("Notify"));
    ASSERT_EQ(notifies.size(), 1U);
    EXPECT_EQ(notifies[0].at(0).toString(), QStringLiteral("Quillbridge Host"));
    EXPECT_EQ(notifies[0].at(1).toUInt(), 0U);
    EXPECT_EQ(notifies[0].at(3).toString(), QStringLiteral("Pair Vision Pro"));
    // The service reads markup: the headset's name is escaped so it shows as it is.
    EXPECT_EQ(
        notifies[0].at(4).toString(),
        QStringLiteral("Robin &amp; Kim's &lt;i&gt;Vision Pro&lt;/i&gt; is requesting to pair. Click to "
                       "enter the PIN."));
    EXPECT_TRUE(notifies[0].at(5).toStringList().contains(QStringLiteral("default")));
    EXPECT_EQ(hintsOf(notifies[0]).value(QStringLiteral("sound-name")).toString(),
              QStringLiteral("message-new-instant"));

    // Another prompt replaces the notification in place.
    auto second = makePrompt("Kim's Vision Pro");
    publish(second);
    waitUntil([&] { return callsOf(QStringLiteral("Notify")).size() == 2; });
    notifies = callsOf(QStringLiteral("Notify"));
    ASSERT_EQ(notifies.size(), 2U);
    const uint firstID = 1;
    EXPECT_EQ(notifies[1].at(1).toUInt(), firstID) << "replaces_id";
    EXPECT_EQ(notifies[1].at(4).toString(),
              QStringLiteral("Kim's Vision Pro is requesting to pair. Click to enter the PIN."));
    waitUntil([&] { return deliveredOf(*center) == std::vector<std::string>{"pairing"}; });

    // A click on it (the service's default action) opens the prompt window.
    callMock(QStringLiteral("EmitSignal"),
             {QString(), QStringLiteral("ActionInvoked"), QStringLiteral("us"),
              QVariant::fromValue(QList<QVariant>{firstID, QStringLiteral("default")})});
    waitUntil([&] { return presenter->pairingPromptWindow() != nullptr; });
    ASSERT_NE(presenter->pairingPromptWindow(), nullptr);
    EXPECT_TRUE(presenter->isPairingPromptInWindow());

    // Withdrawn with the prompt: the notification is closed and the window closes too.
    publish(std::nullopt);
    waitUntil([&] { return deliveredOf(*center).empty() && presenter->pairingPromptWindow() == nullptr; });
    EXPECT_TRUE(deliveredOf(*center).empty());
    EXPECT_EQ(presenter->pairingPromptWindow(), nullptr);
    waitUntil([&] { return callsOf(QStringLiteral("CloseNotification")).size() >= 2; });
    const auto closes = callsOf(QStringLiteral("CloseNotification"));
    ASSERT_FALSE(closes.empty());
    EXPECT_EQ(closes.back().at(0).toUInt(), firstID);
}

TEST_F(HostNotificationsDbusTest, UpdateNotificationIsSilentAndOpensTheUpdaterCheckWhenClicked) {
    startService();
    int interactiveChecks = 0;
    presenter =
        std::make_shared<PairingPromptPresenter>(recorder, activationController, context.get_executor());
    center = std::make_shared<FreedesktopNotificationCenter>();
    HostNotificationController::UpdateControllerLink link;
    link.hasUpdaterController = [] { return true; };
    link.checkForUpdatesWithInterface = [&] { ++interactiveChecks; };
    controller = std::make_unique<HostNotificationController>(HostNotificationController::Dependencies{
        context.get_executor(), recorder, presenter, link, center, defaults});

    controller->postSoftwareUpdateNotification("2.5", "250");
    waitUntil([&] { return deliveredOf(*center) == std::vector<std::string>{"software-update"}; });
    const auto notifies = callsOf(QStringLiteral("Notify"));
    ASSERT_EQ(notifies.size(), 1U);
    EXPECT_EQ(notifies[0].at(3).toString(), QStringLiteral("Quillbridge Host Update Available"));
    EXPECT_EQ(notifies[0].at(4).toString(),
              QStringLiteral("Version 2.5 is available. Click to review and install."));
    EXPECT_TRUE(hintsOf(notifies[0]).value(QStringLiteral("suppress-sound")).toBool());

    callMock(QStringLiteral("EmitSignal"),
             {QString(), QStringLiteral("ActionInvoked"), QStringLiteral("us"),
              QVariant::fromValue(QList<QVariant>{1U, QStringLiteral("default")})});
    waitUntil([&] { return interactiveChecks == 1; });
    EXPECT_EQ(interactiveChecks, 1);

    // Dismissed by the user: no longer listed.
    callMock(QStringLiteral("EmitSignal"),
             {QString(), QStringLiteral("NotificationClosed"), QStringLiteral("uu"),
              QVariant::fromValue(QList<QVariant>{1U, 2U})});
    waitUntil([&] { return deliveredOf(*center).empty(); });
    EXPECT_TRUE(deliveredOf(*center).empty());
}

TEST_F(HostNotificationsDbusTest, WithoutAServiceTheHostLogsOnceAndCarriesOn) {
    ScopedLogCapture log;
    makeController();
    publish(makePrompt("First"));
    waitUntil([&] {
        std::vector<std::string> pending;
        center->getPendingNotificationRequests([&](auto found) { pending = std::move(found); });
        return pending.empty();
    });
    publish(makePrompt("Second"));
    controller->postSoftwareUpdateNotification("2.5", "250");
    waitUntil([&] {
        std::vector<std::string> pending;
        center->getPendingNotificationRequests([&](auto found) { pending = std::move(found); });
        return pending.empty();
    });
    EXPECT_TRUE(deliveredOf(*center).empty());
    EXPECT_EQ(log.messages("HostNotifications").size(), 1U);
    EXPECT_EQ(controller->presentedPromptID(), recorder->pairingPrompt()->id) << "the logic goes on";
}

}  // namespace
}  // namespace quillbridge
