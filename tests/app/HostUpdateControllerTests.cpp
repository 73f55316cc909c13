#include "app/HostUpdateController.hpp"

#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "AppTestDoubles.hpp"
#include "app/HostSoftwareUpdateModel.hpp"

namespace quillbridge {
namespace {

using Status = HostUpdateController::Status;

constexpr const char* validKey = "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8=";  // 32 bytes

// The updater and its controller in one, recording what the host controller asks of it.
class FakeUpdaterController final : public SoftwareUpdaterController, public SoftwareUpdater {
public:
    explicit FakeUpdaterController(SoftwareUpdaterDelegate& delegate) : delegate(delegate) {}

    SoftwareUpdater& updater() override { return *this; }
    void startUpdater() override {
        calls.push_back("startUpdater");
        setCanCheck(true);
    }
    bool canCheckForUpdates() const override { return canCheck; }
    bool automaticallyChecksForUpdates() const override { return automaticallyChecks; }
    void setAutomaticallyChecksForUpdates(bool value) override {
        if (!settingIsLocked) {
            automaticallyChecks = value;
        }
    }
    void checkForUpdates() override { calls.push_back("checkForUpdates"); }
    void checkForUpdateInformation() override { calls.push_back("checkForUpdateInformation"); }
    std::shared_ptr<void> observeCanCheckForUpdates(std::function<void(bool)> handler) override {
        calls.push_back("observeCanCheckForUpdates");
        observer = std::make_shared<std::function<void(bool)>>(std::move(handler));
        (*observer)(canCheck);
        return observer;
    }

    void setCanCheck(bool value) {
        canCheck = value;
        if (observer) {
            (*observer)(value);
        }
    }

    SoftwareUpdaterDelegate& delegate;
    bool canCheck = false;
    bool automaticallyChecks = true;
    // A setting the administrator fixed: writes are ignored.
    bool settingIsLocked = false;
    std::shared_ptr<std::function<void(bool)>> observer;
    std::vector<std::string> calls;
};

SoftwareUpdateError sparkleError(int code, std::string description = "text") {
    return {std::string(softwareUpdateErrorDomain), code, std::move(description)};
}

class HostUpdateControllerTest : public ::testing::Test {
protected:
    std::unique_ptr<HostUpdateController> makeController(
        HostUpdateController::ReleaseConfiguration configuration = {"https://updates.example.org/appcast.xml",
                                                                    validKey}) {
        return std::make_unique<HostUpdateController>(
            configuration,
            [this](SoftwareUpdaterDelegate& delegate) {
                auto made = std::make_unique<FakeUpdaterController>(delegate);
                made->automaticallyChecks = updaterChecksAutomatically;
                fake = made.get();
                return made;
            },
            activation);
    }

    std::shared_ptr<FakeApplicationActivation> application = std::make_shared<FakeApplicationActivation>();
    std::shared_ptr<HostAppActivationController> activation =
        std::make_shared<HostAppActivationController>(application);
    bool updaterChecksAutomatically = true;
    FakeUpdaterController* fake = nullptr;
};

TEST(HostUpdateConfigurationTest, AcceptsOnlyAnHttpsFeedWithAHostAndA32ByteKey) {
    struct Case {
        std::optional<std::string> feed;
        std::optional<std::string> key;
        bool configured;
    };
    const std::string key31 = "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHg==";
    const std::string key33 = "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8g";
    const std::vector<Case> cases = {
        {"https://updates.example.org/appcast.xml", validKey, true},
        {"HTTPS://updates.example.org/appcast.xml", validKey, true},
        {"HtTpS://updates.example.org:8443/a.xml", validKey, true},
        {"http://updates.example.org/appcast.xml", validKey, false},
        {"ftp://updates.example.org/appcast.xml", validKey, false},
        {"https:///appcast.xml", validKey, false},
        {"https:appcast.xml", validKey, false},
        {"updates.example.org/appcast.xml", validKey, false},
        {"https://bad host/appcast.xml", validKey, false},
        {"", validKey, false},
        {std::nullopt, validKey, false},
        {"https://updates.example.org/appcast.xml", std::nullopt, false},
        {"https://updates.example.org/appcast.xml", "", false},
        {"https://updates.example.org/appcast.xml", key31, false},
        {"https://updates.example.org/appcast.xml", key33, false},
        {"https://updates.example.org/appcast.xml", "not base64!", false},
        {"https://updates.example.org/appcast.xml", "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8", false},
        {"https://updates.example.org/appcast.xml", "AAECAwQFBgcICQoLDA0ODxAREhMU\nFRYXGBkaGxwdHh8=", false},
        {"https://updates.example.org/appcast.xml", " AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8=", false},
    };
    for (const auto& entry : cases) {
        EXPECT_EQ(HostUpdateController::isUpdateFeedConfigured({entry.feed, entry.key}), entry.configured)
            << entry.feed.value_or("<none>") << " " << entry.key.value_or("<none>");
    }
}

TEST_F(HostUpdateControllerTest, WithoutConfigurationNoUpdaterExistsAndNothingHappens) {
    auto controller = makeController({"http://updates.example.org/appcast.xml", validKey});
    EXPECT_EQ(fake, nullptr);
    EXPECT_EQ(controller->updaterController(), nullptr);
    EXPECT_EQ(controller->status(), Status::notConfigured());
    EXPECT_FALSE(controller->canCheckForUpdates());
    EXPECT_FALSE(controller->automaticallyChecksForUpdates());
    controller->checkForUpdates();
    EXPECT_EQ(controller->status(), Status::notConfigured());
}

TEST_F(HostUpdateControllerTest, InitialisationMirrorsTheUpdaterObservesAndStartsIt) {
    updaterChecksAutomatically = true;
    auto controller = makeController();
    ASSERT_NE(fake, nullptr);
    EXPECT_EQ(fake->calls, (std::vector<std::string>{"observeCanCheckForUpdates", "startUpdater"}));
    EXPECT_EQ(controller->status(), Status::idle());
    EXPECT_TRUE(controller->automaticallyChecksForUpdates());
    EXPECT_TRUE(controller->canCheckForUpdates());
    fake->setCanCheck(false);
    EXPECT_FALSE(controller->canCheckForUpdates());
}

TEST_F(HostUpdateControllerTest, QuietCheckRunsOnceAndOnlyWhenTheUpdaterCan) {
    auto controller = makeController();
    fake->calls.clear();
    int changes = 0;
    auto token = controller->observeChanges([&] { ++changes; });

    fake->setCanCheck(false);
    controller->checkForUpdates();
    EXPECT_EQ(controller->status(), Status::idle()) << "the updater cannot check";
    EXPECT_TRUE(fake->calls.empty());

    fake->setCanCheck(true);
    controller->checkForUpdates();
    EXPECT_EQ(controller->status(), Status::checking());
    controller->checkForUpdates();
    EXPECT_EQ(fake->calls, std::vector<std::string>{"checkForUpdateInformation"}) << "one check at a time";
    EXPECT_EQ(changes, 3);
    token.reset();
    controller->updaterDidFinishUpdateCycle(SoftwareUpdateCheck::updateInformation, std::nullopt);
    EXPECT_EQ(changes, 3) << "a released observer is not called";
}

TEST_F(HostUpdateControllerTest, OutcomesOfAQuietCheck) {
    struct Case {
        const char* name;
        std::function<void(HostUpdateController&)> outcome;
        Status expected;
    };
    const SoftwareUpdateItem item{"1.4.0", "412"};
    const std::vector<Case> cases = {
        {"found, then finished",
         [&](auto& c) {
             c.updaterDidFindValidUpdate(item);
             c.updaterDidFinishUpdateCycle(SoftwareUpdateCheck::updateInformation, std::nullopt);
         },
         Status::updateAvailable("1.4.0")},
        {"finished without error",
         [](auto& c) { c.updaterDidFinishUpdateCycle(SoftwareUpdateCheck::updates, {}); }, Status::idle()},
        {"no update", [](auto& c) { c.updaterDidNotFindUpdate(sparkleError(1001)); }, Status::upToDate()},
        {"no update, cycle carries it too",
         [](auto& c) {
             c.updaterDidNotFindUpdate(sparkleError(1001));
             c.updaterDidFinishUpdateCycle(SoftwareUpdateCheck::updateInformation, sparkleError(1001));
         },
         Status::upToDate()},
        {"cancelled installation",
         [](auto& c) { c.updaterDidAbortWithError(sparkleError(4007, "The installation was cancelled.")); },
         Status::checking()},
        {"aborted", [](auto& c) { c.updaterDidAbortWithError(sparkleError(2001, "The download failed.")); },
         Status::failed("The download failed.")},
        {"cycle ends with an error",
         [](auto& c) {
             c.updaterDidFinishUpdateCycle(SoftwareUpdateCheck::updates, sparkleError(1000, "Bad feed"));
         },
         Status::failed("Bad feed")},
        {"code 1001 of another domain",
         [](auto& c) {
             c.updaterDidNotFindUpdate({"NSURLErrorDomain", 1001, "timed out"});
         },
         Status::failed("timed out")},
    };
    for (const auto& entry : cases) {
        auto controller = makeController();
        controller->checkForUpdates();
        entry.outcome(*controller);
        EXPECT_EQ(controller->status(), entry.expected) << entry.name;
    }
}

TEST_F(HostUpdateControllerTest, ACancelledInstallationKeepsAnAvailableUpdate) {
    auto controller = makeController();
    controller->updaterDidFindValidUpdate({"2.0", "500"});
    controller->updaterDidAbortWithError(sparkleError(SoftwareUpdateErrorCode::installationCanceled));
    controller->updaterDidFinishUpdateCycle(SoftwareUpdateCheck::updates,
                                            sparkleError(SoftwareUpdateErrorCode::installationCanceled));
    EXPECT_EQ(controller->status(), Status::updateAvailable("2.0"));
}

TEST_F(HostUpdateControllerTest, AScheduledUpdateIsAnnouncedByTheHost) {
    auto controller = makeController();
    std::vector<std::pair<std::string, std::string>> announced;
    controller->scheduledUpdateDidBecomeAvailable = [&](const std::string& display,
                                                        const std::string& version) {
        announced.emplace_back(display, version);
    };
    EXPECT_TRUE(controller->supportsGentleScheduledUpdateReminders());
    EXPECT_FALSE(controller->standardUserDriverShouldHandleShowingScheduledUpdate({"1.5", "420"}, true));
    EXPECT_FALSE(controller->standardUserDriverShouldHandleShowingScheduledUpdate({"1.5", "420"}, false));

    controller->standardUserDriverWillHandleShowingUpdate(false, {"1.5", "420"}, {});
    EXPECT_EQ(controller->status(), Status::updateAvailable("1.5"));
    EXPECT_EQ(announced, (std::vector<std::pair<std::string, std::string>>{{"1.5", "420"}}));
    EXPECT_TRUE(application->policyChanges.empty()) << "no window of the updater";
}

TEST_F(HostUpdateControllerTest, TheUpdatersWindowHoldsTheSoftwareUpdateRole) {
    auto controller = makeController();
    activation->present(WindowRole::about);
    activation->dismiss(WindowRole::about);
    application->policyChanges.clear();
    application->activations = 0;

    controller->standardUserDriverWillHandleShowingUpdate(true, {"1.5", "420"}, {.userInitiated = true});
    EXPECT_TRUE(activation->isPresented(WindowRole::softwareUpdate));
    EXPECT_EQ(application->policy, ActivationPolicy::regular);
    EXPECT_EQ(application->activations, 1);
    EXPECT_EQ(controller->status(), Status::idle()) << "the updater's window shows the update";

    activation->present(WindowRole::about);
    controller->standardUserDriverWillFinishUpdateSession();
    EXPECT_EQ(application->policy, ActivationPolicy::regular) << "the About window is still presented";
    activation->dismiss(WindowRole::about);
    EXPECT_EQ(application->policy, ActivationPolicy::accessory);
}

TEST_F(HostUpdateControllerTest, TheToggleStoresWhatTheUpdaterReports) {
    updaterChecksAutomatically = false;
    auto controller = makeController();
    EXPECT_FALSE(controller->automaticallyChecksForUpdates());
    auto& updater = controller->updaterController()->updater();
    updater.setAutomaticallyChecksForUpdates(true);
    controller->setAutomaticallyChecksForUpdates(updater.automaticallyChecksForUpdates());
    EXPECT_TRUE(controller->automaticallyChecksForUpdates());
}

TEST_F(HostUpdateControllerTest, TheObservationEndsWithTheController) {
    auto controller = makeController();
    auto observer = fake->observer;
    controller.reset();
    (*observer)(false);  // the updater outliving its owner must not reach it
    SUCCEED();
}

TEST(HostSoftwareUpdateModelStatusTest, EachStatusKeepsItsCaseAndText) {
    using Model = SoftwareUpdateModel;
    const std::vector<std::pair<Status, Model::Status>> cases = {
        {Status::updateAvailable("1.4.0"), Model::UpdateAvailable{"1.4.0"}},
        {Status::failed("The download failed."), Model::Failed{"The download failed."}},
        {Status::notConfigured(), Model::NotConfigured{}},
        {Status::idle(), Model::Idle{}},
        {Status::checking(), Model::Checking{}},
        {Status::upToDate(), Model::UpToDate{}},
    };
    for (const auto& [status, expected] : cases) {
        EXPECT_EQ(HostSoftwareUpdateModel::statusOf(status), expected) << static_cast<int>(status.kind());
    }
}

TEST_F(HostUpdateControllerTest, TheMenusModelReachesTheControllerAndItsUpdater) {
    auto controller = std::shared_ptr<HostUpdateController>(makeController());
    HostSoftwareUpdateModel model(controller);
    int changes = 0;
    model.addObserver([&] { ++changes; });
    EXPECT_TRUE(model.hasUpdater());
    EXPECT_EQ(model.status(), SoftwareUpdateModel::Status(SoftwareUpdateModel::Idle{}));
    EXPECT_TRUE(model.canCheckForUpdates());
    fake->calls.clear();

    // "Check Now" is the quiet check; "Update…" the updater's own flow.
    model.checkForUpdates();
    EXPECT_EQ(model.status(), SoftwareUpdateModel::Status(SoftwareUpdateModel::Checking{}));
    EXPECT_EQ(changes, 1) << "the model keeps the observation alive";
    model.checkForUpdatesInteractively();
    EXPECT_EQ(fake->calls, (std::vector<std::string>{"checkForUpdateInformation", "checkForUpdates"}));

    // The toggle writes the updater's setting and keeps what the updater reports.
    model.setAutomaticallyChecksForUpdates(false);
    EXPECT_FALSE(fake->automaticallyChecks);
    EXPECT_FALSE(model.automaticallyChecksForUpdates());
    fake->settingIsLocked = true;
    model.setAutomaticallyChecksForUpdates(true);
    EXPECT_FALSE(model.automaticallyChecksForUpdates()) << "the updater refused the change";
}

TEST_F(HostUpdateControllerTest, WithoutAnUpdaterTheMenusModelShowsNotConfiguredAndDoesNothing) {
    auto controller = std::shared_ptr<HostUpdateController>(
        makeController({"http://updates.example.org/appcast.xml", validKey}));
    HostSoftwareUpdateModel model(controller);
    EXPECT_FALSE(model.hasUpdater());
    EXPECT_EQ(model.status(), SoftwareUpdateModel::Status(SoftwareUpdateModel::NotConfigured{}));
    model.checkForUpdatesInteractively();
    model.setAutomaticallyChecksForUpdates(true);
    model.checkForUpdates();
    EXPECT_FALSE(model.automaticallyChecksForUpdates());
    EXPECT_EQ(model.status(), SoftwareUpdateModel::Status(SoftwareUpdateModel::NotConfigured{}));
}

}  // namespace
}  // namespace quillbridge
