#include "app/SystemMicrophoneInstaller.hpp"

#include <plist/plist.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <system_error>
#include <utility>

#include <asio/awaitable.hpp>

namespace quillbridge {
namespace {

// Files read here are small property lists; anything larger is refused unread.
constexpr std::uintmax_t maximumPropertyListByteCount = 1024 * 1024;

std::optional<std::string> stringValue(plist_t dictionary, const char* key) {
    plist_t node = plist_dict_get_item(dictionary, key);
    if (node == nullptr || plist_get_node_type(node) != PLIST_STRING) {
        return std::nullopt;
    }
    char* text = nullptr;
    plist_get_string_val(node, &text);
    if (text == nullptr) {
        return std::nullopt;
    }
    std::string value(text);
    std::free(text);
    return value;
}

bool isDigit(char character) {
    return character >= '0' && character <= '9';
}

}  // namespace

std::shared_ptr<SystemMicrophoneInstaller> SystemMicrophoneInstaller::create(Dependencies dependencies) {
    return std::shared_ptr<SystemMicrophoneInstaller>(new SystemMicrophoneInstaller(std::move(dependencies)));
}

SystemMicrophoneInstaller::SystemMicrophoneInstaller(Dependencies dependencies)
    : dependencies_(std::move(dependencies)) {}

void SystemMicrophoneInstaller::addObserver(std::function<void()> observer) {
    observers_.push_back(std::move(observer));
}

template <class T>
void SystemMicrophoneInstaller::assign(T& field, T value) {
    if (field == value) {
        return;
    }
    field = std::move(value);
    for (const auto& observer : observers_) {
        observer();
    }
}

std::optional<DriverBundleInfo> SystemMicrophoneInstaller::readDriverBundleInfo(
    std::span<const std::uint8_t> bytes) {
    if (bytes.empty() || bytes.size() > maximumPropertyListByteCount) {
        return std::nullopt;
    }
    plist_t root = nullptr;
    plist_from_memory(reinterpret_cast<const char*>(bytes.data()), static_cast<std::uint32_t>(bytes.size()),
                      &root);
    if (root == nullptr) {
        return std::nullopt;
    }
    std::optional<DriverBundleInfo> info;
    if (plist_get_node_type(root) == PLIST_DICT) {
        auto identifier = stringValue(root, "CFBundleIdentifier");
        auto version = stringValue(root, "CFBundleVersion");
        if (identifier && version && !version->empty()) {
            auto shortVersion = stringValue(root, "CFBundleShortVersionString");
            std::string display =
                shortVersion && !shortVersion->empty() ? *shortVersion + " (" + *version + ")" : *version;
            info = DriverBundleInfo{*identifier, *version, std::move(display)};
        }
    }
    plist_free(root);
    return info;
}

std::strong_ordering SystemMicrophoneInstaller::compareVersions(std::string_view left,
                                                                std::string_view right) {
    std::size_t l = 0;
    std::size_t r = 0;
    while (l < left.size() && r < right.size()) {
        if (isDigit(left[l]) && isDigit(right[r])) {
            std::size_t lEnd = l;
            std::size_t rEnd = r;
            while (lEnd < left.size() && isDigit(left[lEnd])) {
                ++lEnd;
            }
            while (rEnd < right.size() && isDigit(right[rEnd])) {
                ++rEnd;
            }
            // By value: without leading zeros, the longer run is the larger number.
            std::string_view lDigits = left.substr(l, lEnd - l);
            std::string_view rDigits = right.substr(r, rEnd - r);
            lDigits.remove_prefix(std::min(lDigits.find_first_not_of('0'), lDigits.size()));
            rDigits.remove_prefix(std::min(rDigits.find_first_not_of('0'), rDigits.size()));
            if (auto order = lDigits.size() <=> rDigits.size(); order != 0) {
                return order;
            }
            if (auto order = lDigits.compare(rDigits) <=> 0; order != 0) {
                return order;
            }
            l = lEnd;
            r = rEnd;
            continue;
        }
        if (auto order = static_cast<unsigned char>(left[l]) <=> static_cast<unsigned char>(right[r]);
            order != 0) {
            return order;
        }
        ++l;
        ++r;
    }
    return (left.size() - l) <=> (right.size() - r);
}

std::optional<DriverBundleInfo> SystemMicrophoneInstaller::readBundleInfoFile(
    const std::filesystem::path& path) const {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) {
        return std::nullopt;
    }
    auto size = std::filesystem::file_size(path, error);
    if (error || size > maximumPropertyListByteCount) {
        return std::nullopt;
    }
    std::ifstream file(path, std::ios::binary);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (!file.good() && !file.eof()) {
        return std::nullopt;
    }
    return readDriverBundleInfo(bytes);
}

void SystemMicrophoneInstaller::refreshState() {
    assign(launchErrorMessage_, std::optional<std::string>());
    const auto& resources = dependencies_.resourcesDirectory;
    auto metadata = readBundleInfoFile(resources / metadataFileName);
    const bool metadataIsOurs = metadata && metadata->bundleIdentifier == expectedBundleIdentifier;
    std::error_code error;
    const bool hasPackage = std::filesystem::is_regular_file(resources / installPackageFileName, error);
    assign(hasInstallerResources_, hasPackage && metadataIsOurs);
    assign(installedVersion_, std::optional<std::string>());

    const auto& installed = dependencies_.installedDriverDirectory;
    if (!std::filesystem::exists(installed, error)) {
        assign(state_, InstallationState::notInstalled);
        assign(restartIsRecommended_, dependencies_.isDriverLoaded());
        return;
    }
    auto info = readBundleInfoFile(installed / "Contents" / "Info.plist");
    if (!info || info->bundleIdentifier != expectedBundleIdentifier) {
        assign(state_, InstallationState::invalidInstallation);
        assign(restartIsRecommended_, false);
        return;
    }
    assign(installedVersion_, std::optional<std::string>(info->displayVersion));
    if (!metadataIsOurs) {
        assign(state_, InstallationState::installed);
    } else {
        auto order = compareVersions(info->bundleVersion, metadata->bundleVersion);
        assign(state_, order < 0   ? InstallationState::updateAvailable
                       : order > 0 ? InstallationState::newerVersionInstalled
                                   : InstallationState::installed);
    }
    assign(restartIsRecommended_, !dependencies_.isDriverLoaded());
}

void SystemMicrophoneInstaller::openInstallerPackage(Package package) {
    if (package == Package::install) {
        openInstallerPackage(package, DriverRuntimeRequirement::loaded, [](InstallationState state) {
            return state == InstallationState::installed || state == InstallationState::newerVersionInstalled;
        });
    } else {
        openInstallerPackage(package, DriverRuntimeRequirement::unloaded, [](InstallationState state) {
            return state == InstallationState::notInstalled;
        });
    }
}

bool SystemMicrophoneInstaller::openInstallerPackage(Package package, DriverRuntimeRequirement requirement,
                                                     std::function<bool(InstallationState)> isComplete) {
    assign(launchErrorMessage_, std::optional<std::string>());
    assign(restartIsRecommended_, false);
    std::vector<std::string> command;
    if (package == Package::install) {
        auto path = dependencies_.resourcesDirectory / installPackageFileName;
        std::error_code error;
        if (!std::filesystem::is_regular_file(path, error)) {
            assign(launchErrorMessage_, std::optional<std::string>(missingPackageMessage));
            return false;
        }
        command = {"pkexec", "apt-get", "install", "--yes", "--reinstall", path.string()};
    } else {
        command = {"pkexec", "apt-get", "remove", "--yes", std::string(debianPackageName)};
    }
    if (!dependencies_.launch(command)) {
        assign(launchErrorMessage_, std::optional<std::string>(openFailedMessage));
        return false;
    }
    startPackageMonitoring(requirement, std::move(isComplete));
    return true;
}

void SystemMicrophoneInstaller::startPackageMonitoring(DriverRuntimeRequirement requirement,
                                                       std::function<bool(InstallationState)> isComplete) {
    packageMonitoringTask_ = Task();
    auto clock = dependencies_.clock;
    packageMonitoringTask_ = Task::spawn(
        dependencies_.executor,
        [weakSelf = weak_from_this(), clock, requirement,
         isComplete = std::move(isComplete)]() -> asio::awaitable<void> {
            const auto deadline = clock->now() + watchDuration;
            while (clock->now() < deadline) {
                co_await clock->sleepFor(watchPollInterval);
                auto self = weakSelf.lock();
                if (!self) {
                    co_return;
                }
                self->refreshState();
                if (!isComplete(self->state_)) {
                    continue;
                }
                self.reset();
                co_await clock->sleepFor(watchConfirmationDelay);
                self = weakSelf.lock();
                if (!self) {
                    co_return;
                }
                self->refreshState();
                if (isComplete(self->state_)) {
                    const bool loaded = self->dependencies_.isDriverLoaded();
                    self->assign(self->restartIsRecommended_,
                                 requirement == DriverRuntimeRequirement::loaded ? !loaded : loaded);
                    co_return;
                }
            }
        },
        "microphone package watch");
}

}  // namespace quillbridge
