// The updater against a real HTTPS server on loopback (python3's http.server with a certificate from a
// throw-away authority the test trusts), with the host's update controller as its delegate, a recording
// window and a fake command runner in place of pkexec.
#include "platform/linux/update/LinuxSoftwareUpdater.hpp"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>
#include <sodium.h>
#include <QCoreApplication>
#include <QEventLoop>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTimer>

#include "FakeDefaultsStore.hpp"
#include "PipedChildProcess.hpp"
#include "app/HostUpdateController.hpp"
#include "core/Base64.hpp"
#include "platform/linux/update/QProcessUpdateCommandRunner.hpp"
#include "platform/linux/update/UpdateArchiveVerifier.hpp"

namespace quillbridge {
namespace {

namespace fs = std::filesystem;
using Status = HostUpdateController::Status;
using Choice = SoftwareUpdateUserInterface::Choice;

// Runs the event loop until the condition holds; false when it does not within a generous bound (a guard
// against hanging, not a measurement).
bool spinUntil(const std::function<bool()>& condition) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > giveUp) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// Lets queued work run (deferred deletions, posted callbacks).
void settle() {
    for (int round = 0; round < 5; ++round) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }
}

class RecordingWindow final : public SoftwareUpdateUserInterface {
public:
    struct Log {
        std::vector<std::string> events;
        std::function<void(Choice)> choose;
        std::function<void()> closed;
        bool contains(const std::string& event) const {
            return std::find(events.begin(), events.end(), event) != events.end();
        }
    };
    explicit RecordingWindow(std::shared_ptr<Log> log) : log_(std::move(log)) {}

    void setHandlers(std::function<void(Choice)> choose, std::function<void()> closed) override {
        log_->choose = std::move(choose);
        log_->closed = std::move(closed);
    }
    void showChecking() override { log_->events.push_back("checking"); }
    void showUpdate(const AppcastItem& item, const std::string& current) override {
        log_->events.push_back("update " + item.displayVersionString + " over " + current);
    }
    void showUpToDate(const std::string&) override { log_->events.push_back("upToDate"); }
    void showDownloadProgress(std::uint64_t, std::uint64_t) override {
        if (log_->events.empty() || log_->events.back() != "downloading") {
            log_->events.push_back("downloading");
        }
    }
    void showInstalling() override { log_->events.push_back("installing"); }
    void showInstalled() override { log_->events.push_back("installed"); }
    void showError(const std::string& message) override { log_->events.push_back("error: " + message); }
    void close() override { log_->events.push_back("closed"); }

private:
    std::shared_ptr<Log> log_;
};

class FakeCommandRunner final : public UpdateCommandRunner {
public:
    void run(const std::string& program, const std::vector<std::string>& arguments,
             std::function<void(std::optional<int>)> done) override {
        std::vector<std::string> command{program};
        command.insert(command.end(), arguments.begin(), arguments.end());
        commands.push_back(command);
        // What the installer would see: the file as it stands when the command runs.
        if (arguments.size() == 4) {
            std::ifstream file(arguments.back(), std::ios::binary);
            installedBytes.assign(std::istreambuf_iterator<char>(file), {});
        }
        pending = std::move(done);
    }
    void finish(std::optional<int> exitStatus) {
        auto done = std::move(pending);
        pending = nullptr;
        done(exitStatus);
    }

    std::vector<std::vector<std::string>> commands;
    std::string installedBytes;
    std::function<void(std::optional<int>)> pending;
};

// Forwards to the host's controller and records the order of the callbacks.
class RecordingDelegate final : public SoftwareUpdaterDelegate {
public:
    explicit RecordingDelegate(SoftwareUpdaterDelegate& target) : target_(target) {}

    void updaterDidFindValidUpdate(const SoftwareUpdateItem& item) override {
        calls.push_back("found " + item.displayVersionString + "/" + item.versionString);
        target_.updaterDidFindValidUpdate(item);
    }
    void updaterDidNotFindUpdate(const SoftwareUpdateError& error) override {
        calls.push_back("notFound " + std::to_string(error.code));
        target_.updaterDidNotFindUpdate(error);
    }
    void updaterDidAbortWithError(const SoftwareUpdateError& error) override {
        calls.push_back("abort " + std::to_string(error.code));
        target_.updaterDidAbortWithError(error);
    }
    void updaterDidFinishUpdateCycle(SoftwareUpdateCheck check,
                                     const std::optional<SoftwareUpdateError>& error) override {
        calls.push_back("finish " + (error ? std::to_string(error->code) : std::string("ok")));
        target_.updaterDidFinishUpdateCycle(check, error);
    }
    bool supportsGentleScheduledUpdateReminders() const override {
        return target_.supportsGentleScheduledUpdateReminders();
    }
    bool standardUserDriverShouldHandleShowingScheduledUpdate(const SoftwareUpdateItem& item,
                                                              bool immediateFocus) override {
        return target_.standardUserDriverShouldHandleShowingScheduledUpdate(item, immediateFocus);
    }
    void standardUserDriverWillHandleShowingUpdate(bool handle, const SoftwareUpdateItem& item,
                                                   const SoftwareUpdateUserDriverState& state) override {
        calls.push_back(std::string("willShow ") + (handle ? "window" : "host"));
        target_.standardUserDriverWillHandleShowingUpdate(handle, item, state);
    }
    void standardUserDriverWillFinishUpdateSession() override {
        calls.push_back("sessionEnds");
        target_.standardUserDriverWillFinishUpdateSession();
    }

    std::vector<std::string> calls;

private:
    SoftwareUpdaterDelegate& target_;
};

class LinuxSoftwareUpdaterTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        certificates_ =
            new fs::path(fs::temp_directory_path() / ("quillbridge-update-ca-" + std::to_string(::getpid())));
        fs::create_directories(*certificates_);
        const std::string script = std::string(QUILLBRIDGE_UPDATE_TEST_DIR) + "/make-test-certificates.sh";
        ASSERT_EQ(std::system(("bash " + script + " " + certificates_->string()).c_str()), 0);
        auto configuration = QSslConfiguration::defaultConfiguration();
        configuration.addCaCertificates(QString::fromStdString((*certificates_ / "ca.pem").string()));
        QSslConfiguration::setDefaultConfiguration(configuration);
        ASSERT_EQ(sodium_init() >= 0, true);
    }
    static void TearDownTestSuite() {
        fs::remove_all(*certificates_);
        delete certificates_;
    }

    void SetUp() override {
        served = fs::temp_directory_path() / ("quillbridge-update-served-" + std::to_string(::getpid()));
        fs::remove_all(served);
        fs::create_directories(served);
        crypto_sign_keypair(publicKey, secretKey);
        server = startPipedChild(
            "/usr/bin/python3",
            {std::string(QUILLBRIDGE_UPDATE_TEST_DIR) + "/loopback-https-server.py", served.string(),
             (*certificates_ / "server.pem").string(), (*certificates_ / "server-key.pem").string()});
        ASSERT_GT(server.pid, 0);
        std::string line;
        char c = 0;
        while (::read(server.fromChild, &c, 1) == 1 && c != '\n') {
            line.push_back(c);
        }
        ASSERT_FALSE(line.empty()) << "the loopback server did not start";
        base = "https://127.0.0.1:" + line;
        package = std::string(4096, 'x') + "a Debian package";
    }

    void TearDown() override {
        controller.reset();
        settle();
        if (server.pid > 0) {
            ::close(server.toChild);
            ::close(server.fromChild);
            int status = 0;
            ::waitpid(server.pid, &status, 0);
        }
        fs::remove_all(served);
    }

    std::string signatureOf(const std::string& bytes) {
        unsigned char signature[crypto_sign_BYTES];
        crypto_sign_detached(signature, nullptr, reinterpret_cast<const unsigned char*>(bytes.data()),
                             bytes.size(), secretKey);
        return encodeBase64(ByteView(signature, sizeof signature));
    }

    struct Release {
        std::string version;
        std::string displayVersion;
        std::string file;
        std::uint64_t length;
        std::string signature;
    };

    void serve(const std::vector<Release>& releases, const std::string& fileContents) {
        std::ostringstream feed;
        feed << R"(<?xml version="1.0"?><rss version="2.0" xmlns:quillbridge=")"
             << AppcastParser::updateNamespace << R"("><channel><title>Quillbridge Host</title>)";
        for (const auto& release : releases) {
            feed << "<item><title>" << release.displayVersion << "</title><quillbridge:version>"
                 << release.version << "</quillbridge:version><quillbridge:shortVersionString>"
                 << release.displayVersion << "</quillbridge:shortVersionString><description>Notes for "
                 << release.displayVersion << "</description><enclosure url=\"" << base << "/" << release.file
                 << "\" length=\"" << release.length
                 << "\" type=\"application/vnd.debian.binary-package\" quillbridge:edSignature=\""
                 << release.signature << "\"/></item>";
        }
        feed << "</channel></rss>";
        std::ofstream(served / "appcast.xml") << feed.str();
        std::ofstream(served / "q.deb", std::ios::binary) << fileContents;
    }

    void serveSignedUpdate() {
        serve({{"420", "1.5.0", "q.deb", package.size(), signatureOf(package)},
               {"300", "1.0.0", "q.deb", package.size(), signatureOf(package)}},
              package);
    }

    std::vector<std::string> requests() {
        std::ifstream log(served / "requests.log");
        std::vector<std::string> lines;
        for (std::string line; std::getline(log, line);) {
            lines.push_back(line);
        }
        return lines;
    }

    void makeController(std::string feedPath = "/appcast.xml") {
        HostUpdateController::ReleaseConfiguration configuration{
            base + feedPath, encodeBase64(ByteView(publicKey, sizeof publicKey))};
        controller = std::make_unique<HostUpdateController>(
            configuration,
            [this,
             configuration](SoftwareUpdaterDelegate& target) -> std::unique_ptr<SoftwareUpdaterController> {
                delegate = std::make_unique<RecordingDelegate>(target);
                LinuxSoftwareUpdater::Options options;
                options.feedURL = *configuration.feedURL;
                options.publicKey = Bytes(publicKey, publicKey + sizeof publicKey);
                options.currentVersion = "400";
                options.currentDisplayVersion = "1.4.0";
                options.defaults = defaults;
                options.commandRunner = runner;
                options.makeUserInterface = [this] { return std::make_unique<RecordingWindow>(window); };
                options.restartHost = [this] { ++restarts; };
                options.now = [this] { return now; };
                auto made = std::make_unique<LinuxSoftwareUpdater>(std::move(options), *delegate);
                updater = made.get();
                return made;
            },
            nullptr);
    }

    // Starts an interactive check and waits for the offered update.
    void offerUpdate() {
        makeController();
        updater->checkForUpdates();
        ASSERT_TRUE(spinUntil([&] { return window->contains("update 1.5.0 over 1.4.0"); }))
            << joined(window->events);
    }

    static std::string joined(const std::vector<std::string>& lines) {
        std::string text;
        for (const auto& line : lines) {
            text += line + "; ";
        }
        return text;
    }

    inline static fs::path* certificates_ = nullptr;
    fs::path served;
    PipedChild server;
    std::string base;
    std::string package;
    unsigned char publicKey[crypto_sign_PUBLICKEYBYTES];
    unsigned char secretKey[crypto_sign_SECRETKEYBYTES];
    std::shared_ptr<FakeDefaultsStore> defaults = std::make_shared<FakeDefaultsStore>();
    std::shared_ptr<FakeCommandRunner> runner = std::make_shared<FakeCommandRunner>();
    std::shared_ptr<RecordingWindow::Log> window = std::make_shared<RecordingWindow::Log>();
    std::unique_ptr<RecordingDelegate> delegate;
    std::unique_ptr<HostUpdateController> controller;
    LinuxSoftwareUpdater* updater = nullptr;
    std::chrono::system_clock::time_point now =
        std::chrono::system_clock::time_point(std::chrono::hours(500000));
    int restarts = 0;
};

TEST_F(LinuxSoftwareUpdaterTest, QuietCheckFindsTheNewestReleaseAboveTheRunningBuild) {
    serve({{"300", "1.0.0", "q.deb", package.size(), signatureOf(package)},
           {"420", "1.5.0", "q.deb", package.size(), signatureOf(package)},
           {"410", "1.4.9", "q.deb", package.size(), signatureOf(package)}},
          package);
    makeController();
    EXPECT_TRUE(controller->canCheckForUpdates());
    controller->checkForUpdates();
    EXPECT_EQ(controller->status(), Status::checking());
    EXPECT_FALSE(controller->canCheckForUpdates());
    controller->checkForUpdates();  // one check at a time
    ASSERT_TRUE(spinUntil([&] { return controller->status() != Status::checking(); }));
    EXPECT_EQ(controller->status(), Status::updateAvailable("1.5.0"));
    EXPECT_EQ(delegate->calls, (std::vector<std::string>{"found 1.5.0/420", "finish ok"}));
    EXPECT_TRUE(controller->canCheckForUpdates());
    EXPECT_TRUE(window->events.empty()) << "the quiet check shows no window";
    EXPECT_EQ(requests(), std::vector<std::string>{"/appcast.xml"});
}

TEST_F(LinuxSoftwareUpdaterTest, OutcomesOfAQuietCheckThatFindsNothingToInstall) {
    struct Case {
        const char* name;
        std::function<void()> prepare;
        std::string feedPath;
        Status expected;
        std::vector<std::string> calls;
    };
    const std::string failedText =
        "An error occurred in retrieving update information. Please try again later.";
    const std::vector<Case> cases = {
        {"only older or equal releases",
         [&] {
             serve({{"400", "1.4.0", "q.deb", 10, signatureOf("x")},
                    {"3", "0.3", "q.deb", 10, signatureOf("x")}},
                   "");
         },
         "/appcast.xml",
         Status::upToDate(),
         {"notFound 1001", "finish 1001"}},
        {"an empty feed",
         [&] { serve({}, ""); },
         "/appcast.xml",
         Status::upToDate(),
         {"notFound 1001", "finish 1001"}},
        {"no feed at the address",
         [&] { serve({}, ""); },
         "/missing.xml",
         Status::failed(failedText),
         {"abort 1000", "finish 1000"}},
        {"not a feed",
         [&] { std::ofstream(served / "bad.xml") << "<html><body>Hello</body></html>"; },
         "/bad.xml",
         Status::failed("An error occurred while parsing the update feed."),
         {"abort 1000", "finish 1000"}},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.name);
        entry.prepare();
        makeController(entry.feedPath);
        controller->checkForUpdates();
        ASSERT_TRUE(spinUntil([&] { return controller->status() != Status::checking(); }));
        EXPECT_EQ(controller->status(), entry.expected);
        EXPECT_EQ(delegate->calls, entry.calls);
        controller.reset();
        settle();
    }
}

TEST_F(LinuxSoftwareUpdaterTest, AServerWithoutATrustedCertificateIsRefused) {
    serveSignedUpdate();
    const auto trusted = QSslConfiguration::defaultConfiguration();
    auto untrusting = trusted;
    untrusting.setCaCertificates(QSslConfiguration::systemCaCertificates());
    QSslConfiguration::setDefaultConfiguration(untrusting);
    makeController();
    controller->checkForUpdates();
    const bool ended = spinUntil([&] { return controller->status() != Status::checking(); });
    QSslConfiguration::setDefaultConfiguration(trusted);
    ASSERT_TRUE(ended);
    EXPECT_EQ(controller->status(),
              Status::failed("An error occurred in retrieving update information. Please try again later."));
}

TEST_F(LinuxSoftwareUpdaterTest, InstallDownloadsVerifiesInstallsAndRestarts) {
    serveSignedUpdate();
    offerUpdate();
    EXPECT_EQ(delegate->calls, (std::vector<std::string>{"found 1.5.0/420", "willShow window"}));
    EXPECT_FALSE(controller->canCheckForUpdates());
    window->choose(Choice::install);
    ASSERT_TRUE(spinUntil([&] { return static_cast<bool>(runner->pending); })) << joined(window->events);
    ASSERT_EQ(runner->commands.size(), 1u);
    const auto& command = runner->commands.front();
    ASSERT_EQ(command.size(), 5u);
    EXPECT_EQ((std::vector<std::string>(command.begin(), command.end() - 1)),
              (std::vector<std::string>{"pkexec", "apt-get", "install", "-y"}));
    const fs::path file = command.back();
    EXPECT_TRUE(file.is_absolute());
    EXPECT_EQ(runner->installedBytes, package) << "the verified package is what gets installed";
    EXPECT_EQ(fs::status(file.parent_path()).permissions() & fs::perms::all, fs::perms::owner_all)
        << "a private folder";
    EXPECT_EQ(restarts, 0) << "nothing restarts before the installation succeeded";

    runner->finish(0);
    EXPECT_EQ(restarts, 1);
    EXPECT_EQ(window->events, (std::vector<std::string>{"checking", "update 1.5.0 over 1.4.0", "downloading",
                                                        "installing", "installed"}));
    EXPECT_FALSE(fs::exists(file)) << "the download is removed";
    EXPECT_EQ(controller->status(), Status::updateAvailable("1.5.0"))
        << "until the new host replaces this one";
}

TEST_F(LinuxSoftwareUpdaterTest, APackageThatFailsItsCheckIsNeverInstalled) {
    struct Case {
        const char* name;
        std::function<void()> prepare;
    };
    const std::vector<Case> cases = {
        {"signed by another key",
         [&] {
             unsigned char otherPublic[crypto_sign_PUBLICKEYBYTES];
             unsigned char otherSecret[crypto_sign_SECRETKEYBYTES];
             crypto_sign_keypair(otherPublic, otherSecret);
             unsigned char signature[crypto_sign_BYTES];
             crypto_sign_detached(signature, nullptr, reinterpret_cast<const unsigned char*>(package.data()),
                                  package.size(), otherSecret);
             serve({{"420", "1.5.0", "q.deb", package.size(),
                     encodeBase64(ByteView(signature, sizeof signature))}},
                   package);
         }},
        {"altered after signing",
         [&] {
             serve({{"420", "1.5.0", "q.deb", package.size(), signatureOf(package)}},
                   "y" + package.substr(1));
         }},
        {"truncated",
         [&] {
             serve({{"420", "1.5.0", "q.deb", package.size(), signatureOf(package)}}, package.substr(0, 100));
         }},
        {"longer than announced",
         [&] {
             serve({{"420", "1.5.0", "q.deb", package.size(), signatureOf(package)}}, package + "tail");
         }},
        {"missing",
         [&] {
             serve({{"420", "1.5.0", "gone.deb", package.size(), signatureOf(package)}}, package);
         }},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.name);
        entry.prepare();
        window = std::make_shared<RecordingWindow::Log>();
        offerUpdate();
        window->choose(Choice::install);
        ASSERT_TRUE(spinUntil([&] { return controller->status().kind() == Status::Kind::failed; }))
            << joined(window->events);
        EXPECT_TRUE(runner->commands.empty());
        EXPECT_EQ(restarts, 0);
        EXPECT_TRUE(window->events.back().starts_with("error: ")) << joined(window->events);
        EXPECT_FALSE(controller->canCheckForUpdates()) << "the window still shows the error";
        window->closed();
        settle();
        EXPECT_TRUE(controller->canCheckForUpdates());
        EXPECT_EQ(delegate->calls.back(), "sessionEnds");
        controller.reset();
        settle();
    }
}

TEST_F(LinuxSoftwareUpdaterTest, InstallationOutcomes) {
    struct Case {
        const char* name;
        std::optional<int> exitStatus;
        Status expected;
    };
    const std::string failedText = "An error occurred while installing the update. Please try again later.";
    const std::vector<Case> cases = {
        {"password prompt dismissed", 126, Status::updateAvailable("1.5.0")},
        {"not authorised", 127, Status::failed(failedText)},
        {"apt-get failed", 100, Status::failed(failedText)},
        {"pkexec missing", std::nullopt, Status::failed(failedText)},
    };
    serveSignedUpdate();
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.name);
        window = std::make_shared<RecordingWindow::Log>();
        offerUpdate();
        window->choose(Choice::install);
        ASSERT_TRUE(spinUntil([&] { return static_cast<bool>(runner->pending); }));
        const fs::path file = runner->commands.back().back();
        runner->finish(entry.exitStatus);
        EXPECT_EQ(controller->status(), entry.expected);
        EXPECT_EQ(restarts, 0);
        EXPECT_FALSE(fs::exists(file.parent_path())) << "the download is removed";
        controller.reset();
        settle();
    }
}

TEST_F(LinuxSoftwareUpdaterTest, SkipThisVersionAndRemindMeLater) {
    serveSignedUpdate();
    offerUpdate();
    window->choose(Choice::remindMeLater);
    settle();
    EXPECT_TRUE(window->contains("closed"));
    EXPECT_FALSE(defaults->string(LinuxSoftwareUpdater::skippedVersionKey));
    EXPECT_EQ(delegate->calls,
              (std::vector<std::string>{"found 1.5.0/420", "willShow window", "finish ok", "sessionEnds"}));
    EXPECT_TRUE(controller->canCheckForUpdates());
    controller.reset();
    settle();

    window = std::make_shared<RecordingWindow::Log>();
    offerUpdate();
    window->choose(Choice::skipThisVersion);
    settle();
    EXPECT_EQ(defaults->string(LinuxSoftwareUpdater::skippedVersionKey), "420");
    EXPECT_EQ(requests().size(), 2u) << "nothing was downloaded";
}

TEST_F(LinuxSoftwareUpdaterTest, ClosingTheWindowDuringTheCheckEndsTheCycle) {
    serveSignedUpdate();
    makeController();
    updater->checkForUpdates();
    window->closed();
    settle();
    EXPECT_TRUE(controller->canCheckForUpdates());
    EXPECT_EQ(delegate->calls, std::vector<std::string>{"finish ok"});
    // Whatever the aborted request left behind changes nothing.
    settle();
    EXPECT_EQ(delegate->calls, std::vector<std::string>{"finish ok"});
}

TEST_F(LinuxSoftwareUpdaterTest, ScheduledChecksRunDailyAndLeaveTheAnnouncementToTheHost) {
    serveSignedUpdate();
    const auto day = std::chrono::hours(24);
    const auto seconds = [](auto time) {
        return std::chrono::duration_cast<std::chrono::seconds>(time.time_since_epoch()).count();
    };

    // Automatic checks off: nothing is scheduled.
    defaults->setBoolean(LinuxSoftwareUpdater::automaticallyChecksKey, false);
    makeController();
    EXPECT_FALSE(controller->automaticallyChecksForUpdates());
    EXPECT_FALSE(updater->scheduledCheckTime());

    // Turned on with a check two hours ago: the next one is due 22 hours from now.
    defaults->setInteger(LinuxSoftwareUpdater::lastCheckTimeKey, seconds(now - std::chrono::hours(2)));
    updater->setAutomaticallyChecksForUpdates(true);
    controller->setAutomaticallyChecksForUpdates(updater->automaticallyChecksForUpdates());
    EXPECT_TRUE(controller->automaticallyChecksForUpdates());
    ASSERT_TRUE(updater->scheduledCheckTime());
    EXPECT_EQ(*updater->scheduledCheckTime(), now + std::chrono::hours(22));
    controller.reset();
    settle();

    // The last check a day ago: the check runs at once, finds the update and hands it to the host.
    std::vector<std::pair<std::string, std::string>> announced;
    defaults->setInteger(LinuxSoftwareUpdater::lastCheckTimeKey, seconds(now - day));
    makeController();
    controller->scheduledUpdateDidBecomeAvailable = [&](const std::string& display,
                                                        const std::string& version) {
        announced.emplace_back(display, version);
    };
    ASSERT_TRUE(spinUntil([&] { return !announced.empty(); }));
    EXPECT_EQ(announced, (std::vector<std::pair<std::string, std::string>>{{"1.5.0", "420"}}));
    EXPECT_EQ(controller->status(), Status::updateAvailable("1.5.0"));
    EXPECT_TRUE(window->events.empty()) << "no window for a scheduled update";
    EXPECT_EQ(defaults->integer(LinuxSoftwareUpdater::lastCheckTimeKey), seconds(now));
    ASSERT_TRUE(updater->scheduledCheckTime());
    EXPECT_EQ(*updater->scheduledCheckTime(), now + day);
    controller.reset();
    settle();

    // A skipped version is not announced again by a scheduled check; the user's own check still offers it.
    defaults->setString(LinuxSoftwareUpdater::skippedVersionKey, "420");
    defaults->setInteger(LinuxSoftwareUpdater::lastCheckTimeKey, seconds(now - day));
    announced.clear();
    makeController();
    controller->scheduledUpdateDidBecomeAvailable = [&](const std::string& display,
                                                        const std::string& version) {
        announced.emplace_back(display, version);
    };
    ASSERT_TRUE(spinUntil([&] { return controller->status() == Status::upToDate(); }));
    EXPECT_TRUE(announced.empty());
    controller->checkForUpdates();
    ASSERT_TRUE(spinUntil([&] { return controller->status() != Status::checking(); }));
    EXPECT_EQ(controller->status(), Status::updateAvailable("1.5.0"));
}

TEST(UpdateArchiveVerifierTest, ChecksLengthThenSignature) {
    ASSERT_GE(sodium_init(), 0);
    unsigned char publicKey[crypto_sign_PUBLICKEYBYTES];
    unsigned char secretKey[crypto_sign_SECRETKEYBYTES];
    crypto_sign_keypair(publicKey, secretKey);
    const std::string contents = "package contents";
    unsigned char signature[crypto_sign_BYTES];
    crypto_sign_detached(signature, nullptr, reinterpret_cast<const unsigned char*>(contents.data()),
                         contents.size(), secretKey);
    const auto file = fs::temp_directory_path() / ("quillbridge-verify-" + std::to_string(::getpid()));
    std::ofstream(file, std::ios::binary) << contents;
    const ByteView key(publicKey, sizeof publicKey);
    const ByteView goodSignature(signature, sizeof signature);

    EXPECT_TRUE(UpdateArchiveVerifier::verify(file, contents.size(), goodSignature, key));
    EXPECT_EQ(UpdateArchiveVerifier::verify(file, contents.size() + 1, goodSignature, key).error(),
              UpdateArchiveFailure::wrongLength);
    EXPECT_EQ(UpdateArchiveVerifier::verify(file, contents.size(), goodSignature, key.first(31)).error(),
              UpdateArchiveFailure::badSignature);
    EXPECT_EQ(UpdateArchiveVerifier::verify(file.string() + ".missing", contents.size(), goodSignature, key)
                  .error(),
              UpdateArchiveFailure::unreadable);
    signature[0] ^= 1;
    EXPECT_EQ(UpdateArchiveVerifier::verify(file, contents.size(), goodSignature, key).error(),
              UpdateArchiveFailure::badSignature);
    fs::remove(file);
}

}  // namespace
}  // namespace quillbridge

namespace quillbridge {
namespace {

TEST(QProcessUpdateCommandRunnerTest, ReportsTheExitStatusOrThatTheProgramCouldNotRun) {
    struct Case {
        std::string program;
        std::vector<std::string> arguments;
        std::optional<int> expected;
    };
    const std::vector<Case> cases = {
        {"/bin/sh", {"-c", "exit 0"}, 0},
        {"/bin/sh", {"-c", "exit 126"}, 126},
        {"/bin/sh", {"-c", "kill -9 $$"}, std::nullopt},
        {"/nonexistent/pkexec", {}, std::nullopt},
    };
    for (const auto& entry : cases) {
        QProcessUpdateCommandRunner runner;
        int calls = 0;
        std::optional<int> status = -1;
        runner.run(entry.program, entry.arguments, [&](std::optional<int> exitStatus) {
            ++calls;
            status = exitStatus;
        });
        ASSERT_TRUE(spinUntil([&] { return calls > 0; })) << entry.program;
        settle();
        EXPECT_EQ(calls, 1) << entry.program;
        EXPECT_EQ(status, entry.expected) << entry.program << " " << entry.arguments.back();
    }
}

}  // namespace
}  // namespace quillbridge
