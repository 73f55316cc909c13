#include "platform/linux/defaults/FileDefaultsStore.hpp"

#include <cerrno>
#include <cmath>
#include <limits>
#include <string>
#include <utility>

#include "core/Base64.hpp"
#include "core/Date.hpp"
#include "core/Logger.hpp"
#include "platform/linux/defaults/AtomicFile.hpp"

namespace quillbridge {

namespace {

Logger& logger() {
    static Logger instance{"Defaults"};
    return instance;
}

constexpr const char* dataKey = "data";

Json encodeValue(const DefaultsValue& value) {
    return std::visit(
        [](const auto& item) -> Json {
            using T = std::decay_t<decltype(item)>;
            if constexpr (std::is_same_v<T, Bytes>) {
                Json object = Json::object();
                object[dataKey] = encodeBase64(item);
                return object;
            } else {
                return Json(item);
            }
        },
        value);
}

std::optional<DefaultsValue> decodeValue(const Json& json) {
    if (json.is_string())
        return DefaultsValue{json.get<std::string>()};
    if (json.is_boolean())
        return DefaultsValue{json.get<bool>()};
    if (json.is_number_integer()) {
        if (json.is_number_unsigned() &&
            json.get<std::uint64_t>() >
                static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            return std::nullopt;
        }
        return DefaultsValue{json.get<std::int64_t>()};
    }
    if (json.is_object() && json.size() == 1 && json.contains(dataKey) && json[dataKey].is_string()) {
        auto bytes = decodeBase64(json[dataKey].get_ref<const std::string&>());
        if (!bytes)
            return std::nullopt;
        return DefaultsValue{std::move(*bytes)};
    }
    return std::nullopt;
}

void setAside(const std::filesystem::path& file, const std::string& reason) {
    auto target = file;
    target += ".unreadable-" + std::to_string(static_cast<long long>(std::floor(Date::now().unixSeconds())));
    std::error_code error;
    std::filesystem::rename(file, target, error);
    if (error) {
        logger().error("Unable to read the settings file " + file.string() + " (" + reason +
                       "); setting it aside failed too: " + error.message());
    } else {
        logger().error("Unable to read the settings file " + file.string() + " (" + reason +
                       "); kept it as " + target.string() + " and started with empty settings");
    }
}

}  // namespace

std::filesystem::path FileDefaultsStore::defaultLocation() {
    return AtomicFile::xdgBaseDirectory("XDG_CONFIG_HOME", ".config") / "quillbridge" / "defaults.json";
}

std::unique_ptr<FileDefaultsStore> FileDefaultsStore::openDefault() {
    return std::make_unique<FileDefaultsStore>(defaultLocation());
}

FileDefaultsStore::FileDefaultsStore(std::filesystem::path file)
    : file_(std::move(file)), document_(Json::object()) {
    auto content = AtomicFile::read(file_, maximumFileByteCount, false);
    if (!content) {
        // Whatever keeps the file from being read (its size, its kind, its permissions, an I/O error), the
        // first write would replace it: set it aside first. Only a path that cannot hold a file at all
        // (a file where a folder belongs) has nothing to keep.
        if (content.error() != ENOTDIR) {
            setAside(file_, AtomicFile::errorText(content.error()));
        } else {
            logger().error("Unable to read the settings file " + file_.string() + ": " +
                           AtomicFile::errorText(content.error()));
        }
        return;
    }
    if (!*content)
        return;
    auto parsed = parseJson(asText(**content));
    if (!parsed || !parsed->is_object()) {
        setAside(file_, parsed ? std::string("not a JSON object") : describe(parsed.error()));
        return;
    }
    document_ = std::move(*parsed);
}

std::optional<DefaultsValue> FileDefaultsStore::value(std::string_view key) const {
    std::lock_guard lock(mutex_);
    auto found = document_.find(key);
    if (found == document_.end())
        return std::nullopt;
    return decodeValue(*found);
}

bool FileDefaultsStore::setValue(std::string_view key, DefaultsValue value) {
    if (auto* text = std::get_if<std::string>(&value); text && !isValidUtf8(*text)) {
        logger().error("Refused a settings value for " + std::string(key) + " that is not valid UTF-8");
        return false;
    }
    if (!isValidUtf8(key))
        return false;
    std::lock_guard writeLock(writeMutex_);
    Json changed = currentDocument();
    changed[std::string(key)] = encodeValue(value);
    if (!persist(changed))
        return false;
    replaceDocument(std::move(changed));
    return true;
}

bool FileDefaultsStore::removeValue(std::string_view key) {
    std::lock_guard writeLock(writeMutex_);
    Json changed = currentDocument();
    if (!changed.contains(key))
        return true;
    changed.erase(std::string(key));
    if (!persist(changed))
        return false;
    replaceDocument(std::move(changed));
    return true;
}

Json FileDefaultsStore::currentDocument() const {
    std::lock_guard lock(mutex_);
    return document_;
}

void FileDefaultsStore::replaceDocument(Json document) {
    Json previous;
    {
        std::lock_guard lock(mutex_);
        previous = std::exchange(document_, std::move(document));
    }
    // The old document is freed outside the lock.
}

bool FileDefaultsStore::persist(const Json& document) {
    if (auto made = AtomicFile::ensureDirectory(file_.parent_path(), false); !made) {
        logger().error("Unable to create the settings folder " + file_.parent_path().string() + ": " +
                       AtomicFile::errorText(made.error()));
        return false;
    }
    auto text = serializeJson(document);
    if (auto written = AtomicFile::write(file_, asBytes(text), 0600); !written) {
        logger().error("Unable to write the settings file " + file_.string() + ": " +
                       AtomicFile::errorText(written.error()));
        return false;
    }
    return true;
}

}  // namespace quillbridge
