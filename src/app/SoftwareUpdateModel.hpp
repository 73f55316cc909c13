#pragma once

#include <functional>
#include <string>
#include <variant>

namespace quillbridge {

// What the menu window's "Software Update" group reads of the update controller and asks of it. The update
// controller offers it; until one is configured the group shows `notConfigured`.
class SoftwareUpdateModel {
public:
    struct UpdateAvailable {
        std::string version;
        bool operator==(const UpdateAvailable&) const = default;
    };
    struct Failed {
        std::string message;
        bool operator==(const Failed&) const = default;
    };
    struct NotConfigured {
        bool operator==(const NotConfigured&) const = default;
    };
    struct Idle {
        bool operator==(const Idle&) const = default;
    };
    struct Checking {
        bool operator==(const Checking&) const = default;
    };
    struct UpToDate {
        bool operator==(const UpToDate&) const = default;
    };
    using Status = std::variant<UpdateAvailable, Failed, NotConfigured, Idle, Checking, UpToDate>;

    virtual ~SoftwareUpdateModel() = default;

    // Called with no argument after each change of the status or of either flag.
    virtual void addObserver(std::function<void()> observer) = 0;

    virtual Status status() const = 0;
    virtual bool automaticallyChecksForUpdates() const = 0;
    virtual bool canCheckForUpdates() const = 0;
    // Whether an updater exists (updating is configured); without one the toggle and "Update…" do nothing.
    virtual bool hasUpdater() const = 0;

    // "Check Now" / "Try Again": a quiet check.
    virtual void checkForUpdates() = 0;
    // "Update…": the updater's own interactive flow.
    virtual void checkForUpdatesInteractively() = 0;
    // The toggle: writes the updater's setting and keeps what the updater reports back.
    virtual void setAutomaticallyChecksForUpdates(bool enabled) = 0;
};

// Updating that is not configured: `notConfigured` for good, nothing to check, every action does nothing.
class NotConfiguredSoftwareUpdate final : public SoftwareUpdateModel {
public:
    void addObserver(std::function<void()>) override {}
    Status status() const override { return NotConfigured{}; }
    bool automaticallyChecksForUpdates() const override { return false; }
    bool canCheckForUpdates() const override { return false; }
    bool hasUpdater() const override { return false; }
    void checkForUpdates() override {}
    void checkForUpdatesInteractively() override {}
    void setAutomaticallyChecksForUpdates(bool) override {}
};

}  // namespace quillbridge
