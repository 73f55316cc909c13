#include "platform/linux/secrets/SecretServiceSecretStore.hpp"

#include <sys/stat.h>

#include <cstdlib>
#include <expected>
#include <string>

#include <libsecret/secret.h>

#include "core/Logger.hpp"
#include "core/UnicodeText.hpp"

// A Secret Service proxy that refuses every prompt. libsecret runs a prompt whenever the service asks for
// one (to unlock a collection, say); refusing here makes "never show a user interface" hold even if a
// collection is locked between our check and our call.
struct QuillbridgeNoPromptService {
    SecretService parent;
};
struct QuillbridgeNoPromptServiceClass {
    SecretServiceClass parentClass;
};

G_DEFINE_TYPE(QuillbridgeNoPromptService, quillbridge_no_prompt_service, SECRET_TYPE_SERVICE)

static void setPromptRefused(GError** error) {
    g_set_error_literal(error, G_IO_ERROR, G_IO_ERROR_PERMISSION_DENIED,
                        "The Secret Service asked for a prompt, which this program never shows");
}

static GVariant* refusePromptSync(SecretService*, SecretPrompt*, GCancellable*, const GVariantType*,
                                  GError** error) {
    setPromptRefused(error);
    return nullptr;
}

static void refusePromptAsync(SecretService* self, SecretPrompt*, const GVariantType*, GCancellable*,
                              GAsyncReadyCallback callback, gpointer userData) {
    g_task_report_new_error(self, callback, userData, reinterpret_cast<gpointer>(refusePromptAsync),
                            G_IO_ERROR, G_IO_ERROR_PERMISSION_DENIED,
                            "The Secret Service asked for a prompt, which this program never shows");
}

static GVariant* refusePromptFinish(SecretService*, GAsyncResult* result, GError** error) {
    return static_cast<GVariant*>(g_task_propagate_pointer(G_TASK(result), error));
}

static void quillbridge_no_prompt_service_init(QuillbridgeNoPromptService*) {}

static void quillbridge_no_prompt_service_class_init(QuillbridgeNoPromptServiceClass* klass) {
    auto* serviceClass = reinterpret_cast<SecretServiceClass*>(klass);
    serviceClass->prompt_sync = refusePromptSync;
    serviceClass->prompt_async = refusePromptAsync;
    serviceClass->prompt_finish = refusePromptFinish;
}

namespace quillbridge {

namespace {

const Logger& logger() {
    static const Logger instance{"SecretStore"};
    return instance;
}

const SecretSchema& schema() {
    static const SecretSchema instance = {
        "org.quillbridge.Secret",
        SECRET_SCHEMA_NONE,
        {
            {"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
        },
        0,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
    };
    return instance;
}

struct ErrorOwner {
    GError* error = nullptr;
    ~ErrorOwner() {
        if (error != nullptr)
            g_error_free(error);
    }
    GError** out() { return &error; }
    std::string message() const { return error != nullptr ? error->message : "unknown error"; }
};

template <typename T>
struct ObjectOwner {
    T* object = nullptr;
    explicit ObjectOwner(T* value) : object(value) {}
    ObjectOwner(const ObjectOwner&) = delete;
    ObjectOwner& operator=(const ObjectOwner&) = delete;
    ~ObjectOwner() {
        if (object != nullptr)
            g_object_unref(object);
    }
};

struct ItemList {
    GList* items = nullptr;
    ~ItemList() { g_list_free_full(items, g_object_unref); }
};

struct ValueOwner {
    SecretValue* value = nullptr;
    ~ValueOwner() {
        if (value != nullptr)
            secret_value_unref(value);
    }
};

struct AttributesOwner {
    GHashTable* table = nullptr;
    ~AttributesOwner() {
        if (table != nullptr)
            g_hash_table_unref(table);
    }
};

// D-Bus strings are UTF-8 without NUL characters.
bool isUsableName(std::string_view text) {
    return text.find('\0') == std::string_view::npos && isValidUtf8(text);
}

bool sessionBusConfigured() {
    if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
        address != nullptr && address[0] != '\0') {
        return true;
    }
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || runtime[0] != '/')
        return false;
    struct stat status {};
    std::string socket = std::string(runtime) + "/bus";
    return ::stat(socket.c_str(), &status) == 0 && S_ISSOCK(status.st_mode);
}

constexpr int callTimeoutMilliseconds = 10000;

struct VariantOwner {
    GVariant* value = nullptr;
    ~VariantOwner() {
        if (value != nullptr)
            g_variant_unref(value);
    }
};

// The object path of the default collection, or "/" when there is none. Asked afresh every time: cached
// proxy properties only follow the service's signals while a GLib main loop runs, and none does here.
std::expected<std::string, std::string> defaultCollectionPath(GDBusProxy* service) {
    ErrorOwner error;
    VariantOwner reply{g_dbus_connection_call_sync(
        g_dbus_proxy_get_connection(service), g_dbus_proxy_get_name(service), "/org/freedesktop/secrets",
        "org.freedesktop.Secret.Service", "ReadAlias", g_variant_new("(s)", "default"), G_VARIANT_TYPE("(o)"),
        G_DBUS_CALL_FLAGS_NO_AUTO_START, callTimeoutMilliseconds, nullptr, error.out())};
    if (reply.value == nullptr)
        return std::unexpected(error.message());
    const gchar* path = nullptr;
    g_variant_get(reply.value, "(&o)", &path);
    return std::string(path);
}

std::expected<bool, std::string> isCollectionLocked(GDBusProxy* service, const std::string& path) {
    ErrorOwner error;
    VariantOwner reply{g_dbus_connection_call_sync(
        g_dbus_proxy_get_connection(service), g_dbus_proxy_get_name(service), path.c_str(),
        "org.freedesktop.DBus.Properties", "Get",
        g_variant_new("(ss)", "org.freedesktop.Secret.Collection", "Locked"), G_VARIANT_TYPE("(v)"),
        G_DBUS_CALL_FLAGS_NO_AUTO_START, callTimeoutMilliseconds, nullptr, error.out())};
    if (reply.value == nullptr)
        return std::unexpected(error.message());
    GVariant* inner = nullptr;
    g_variant_get(reply.value, "(v)", &inner);
    VariantOwner innerOwner{inner};
    if (!g_variant_is_of_type(inner, G_VARIANT_TYPE_BOOLEAN))
        return std::unexpected("Locked is not a boolean");
    return g_variant_get_boolean(inner) != FALSE;
}

// Succeeds when the collection at `path` is unlocked; interactionRequired when it is locked.
std::expected<void, SecretStoreError> requireUnlockedCollection(GDBusProxy* service,
                                                                const std::string& path) {
    auto locked = isCollectionLocked(service, path);
    if (!locked) {
        logger().error("Secret Service collection state unavailable: ", locked.error());
        return std::unexpected(SecretStoreError::unavailable);
    }
    if (*locked)
        return std::unexpected(SecretStoreError::interactionRequired);
    return {};
}

// The items a search found: the first that is unlocked, and whether any was locked.
struct SearchResult {
    ItemList found;
    SecretItem* firstUnlocked = nullptr;
    bool sawLocked = false;
};

}  // namespace

struct SecretServiceSecretStore::Connection {
    SecretService* service = nullptr;
    ~Connection() {
        if (service != nullptr)
            g_object_unref(service);
    }

    AttributesOwner attributes(std::string_view service, std::string_view account) const {
        AttributesOwner owner;
        owner.table = secret_attributes_build(&schema(), "service", std::string(service).c_str(), "account",
                                              std::string(account).c_str(), nullptr);
        return owner;
    }

    // The items stored under `attributes`; nothing (logged) when the search fails.
    bool search(const AttributesOwner& attributes, SecretSearchFlags flags, SearchResult& result) const {
        ErrorOwner error;
        result.found.items =
            secret_service_search_sync(service, &schema(), attributes.table, flags, nullptr, error.out());
        if (error.error != nullptr) {
            logger().error("Secret Service search failed: ", error.message());
            return false;
        }
        for (GList* entry = result.found.items; entry != nullptr; entry = entry->next) {
            auto* item = static_cast<SecretItem*>(entry->data);
            if (!secret_item_get_locked(item)) {
                result.firstUnlocked = item;
                break;
            }
            result.sawLocked = true;
        }
        return true;
    }
};

std::unique_ptr<SecretServiceSecretStore> SecretServiceSecretStore::connect() {
    if (!sessionBusConfigured())
        return nullptr;
    ErrorOwner error;
    // Our own proxy type, not the shared default one: it refuses every prompt.
    auto* service = secret_service_open_sync(quillbridge_no_prompt_service_get_type(), nullptr,
                                             SECRET_SERVICE_OPEN_SESSION, nullptr, error.out());
    if (service == nullptr) {
        logger().info("No Secret Service answers on the session bus: ", error.message());
        return nullptr;
    }
    auto connection = std::make_unique<Connection>();
    connection->service = service;
    return std::unique_ptr<SecretServiceSecretStore>(new SecretServiceSecretStore(std::move(connection)));
}

SecretServiceSecretStore::SecretServiceSecretStore(std::unique_ptr<Connection> connection)
    : connection_(std::move(connection)) {}

SecretServiceSecretStore::~SecretServiceSecretStore() = default;

SecretStore::ReadResult SecretServiceSecretStore::read(std::string_view service, std::string_view account) {
    if (!isUsableName(service) || !isUsableName(account))
        return std::unexpected(SecretStoreError::invalidItem);
    std::lock_guard lock(mutex_);
    auto attributes = connection_->attributes(service, account);
    SearchResult search;
    if (!connection_->search(attributes,
                             static_cast<SecretSearchFlags>(SECRET_SEARCH_ALL | SECRET_SEARCH_LOAD_SECRETS),
                             search))
        return std::unexpected(SecretStoreError::unavailable);
    if (search.firstUnlocked != nullptr) {
        ValueOwner value{secret_item_get_secret(search.firstUnlocked)};
        if (value.value == nullptr) {
            logger().error("The Secret Service gave an item without its secret");
            return std::unexpected(SecretStoreError::unavailable);
        }
        gsize length = 0;
        const gchar* bytes = secret_value_get(value.value, &length);
        if (length > maximumSecretByteCount)
            return std::unexpected(SecretStoreError::invalidItem);
        auto* begin = reinterpret_cast<const std::uint8_t*>(bytes);
        return std::optional<SecretBytes>{SecretBytes(ByteView(begin, length))};
    }
    if (search.sawLocked)
        return std::unexpected(SecretStoreError::interactionRequired);

    // Nothing found. Only trust that when the collection new items go to is unlocked.
    auto* proxy = G_DBUS_PROXY(connection_->service);
    auto path = defaultCollectionPath(proxy);
    if (!path) {
        logger().error("Secret Service default collection lookup failed: ", path.error());
        return std::unexpected(SecretStoreError::unavailable);
    }
    if (*path == "/")
        return std::optional<SecretBytes>{};
    if (auto unlocked = requireUnlockedCollection(proxy, *path); !unlocked)
        return std::unexpected(unlocked.error());
    return std::optional<SecretBytes>{};
}

SecretStore::WriteResult SecretServiceSecretStore::write(std::string_view service, std::string_view account,
                                                         ByteView secret) {
    if (!isUsableName(service) || !isUsableName(account) || secret.size() > maximumSecretByteCount) {
        return std::unexpected(SecretStoreError::invalidItem);
    }
    std::lock_guard lock(mutex_);
    auto attributes = connection_->attributes(service, account);
    ValueOwner value{secret_value_new(reinterpret_cast<const gchar*>(secret.data()),
                                      static_cast<gssize>(secret.size()), "application/octet-stream")};

    SearchResult search;
    if (!connection_->search(attributes, SECRET_SEARCH_ALL, search))
        return std::unexpected(SecretStoreError::unavailable);
    if (search.firstUnlocked != nullptr) {
        ErrorOwner error;
        if (!secret_item_set_secret_sync(search.firstUnlocked, value.value, nullptr, error.out())) {
            logger().error("Secret Service update failed: ", error.message());
            return std::unexpected(SecretStoreError::unavailable);
        }
        return {};
    }
    // A locked copy would shadow a new one as soon as it is unlocked again.
    if (search.sawLocked)
        return std::unexpected(SecretStoreError::interactionRequired);

    auto* proxy = G_DBUS_PROXY(connection_->service);
    auto path = defaultCollectionPath(proxy);
    if (!path || *path == "/") {
        logger().error("The Secret Service has no default collection to keep secrets in",
                       path ? std::string() : ": " + path.error());
        return std::unexpected(SecretStoreError::unavailable);
    }
    if (auto unlocked = requireUnlockedCollection(proxy, *path); !unlocked)
        return unlocked;
    ErrorOwner collectionError;
    ObjectOwner<SecretCollection> collection(
        secret_collection_for_alias_sync(connection_->service, SECRET_COLLECTION_DEFAULT,
                                         SECRET_COLLECTION_NONE, nullptr, collectionError.out()));
    if (collection.object == nullptr) {
        logger().error("Secret Service collection unavailable: ", collectionError.message());
        return std::unexpected(SecretStoreError::unavailable);
    }
    std::string label = "Quillbridge " + std::string(service) + " (" + std::string(account) + ")";
    ErrorOwner createError;
    ObjectOwner<SecretItem> created(
        secret_item_create_sync(collection.object, &schema(), attributes.table, label.c_str(), value.value,
                                SECRET_ITEM_CREATE_REPLACE, nullptr, createError.out()));
    if (created.object == nullptr) {
        logger().error("Secret Service item creation failed: ", createError.message());
        return std::unexpected(SecretStoreError::unavailable);
    }
    return {};
}

SecretStore::WriteResult SecretServiceSecretStore::unlockDefaultCollection() {
    std::lock_guard lock(mutex_);
    ErrorOwner collectionError;
    ObjectOwner<SecretCollection> collection(
        secret_collection_for_alias_sync(connection_->service, SECRET_COLLECTION_DEFAULT,
                                         SECRET_COLLECTION_NONE, nullptr, collectionError.out()));
    if (collection.object == nullptr)
        return std::unexpected(SecretStoreError::unavailable);
    GList objects{collection.object, nullptr, nullptr};
    ErrorOwner error;
    gint unlocked = secret_service_unlock_sync(connection_->service, &objects, nullptr, nullptr, error.out());
    if (error.error != nullptr) {
        if (g_error_matches(error.error, G_IO_ERROR, G_IO_ERROR_PERMISSION_DENIED))
            return std::unexpected(SecretStoreError::interactionRequired);
        return std::unexpected(SecretStoreError::unavailable);
    }
    if (unlocked < 1)
        return std::unexpected(SecretStoreError::unavailable);
    return {};
}

bool SecretServiceSecretStore::lockDefaultCollection() {
    std::lock_guard lock(mutex_);
    auto* proxy = G_DBUS_PROXY(connection_->service);
    auto path = defaultCollectionPath(proxy);
    if (!path || *path == "/")
        return false;
    GVariantBuilder objects;
    g_variant_builder_init(&objects, G_VARIANT_TYPE("ao"));
    g_variant_builder_add(&objects, "o", path->c_str());
    ErrorOwner error;
    VariantOwner reply{g_dbus_connection_call_sync(
        g_dbus_proxy_get_connection(proxy), g_dbus_proxy_get_name(proxy), "/org/freedesktop/secrets",
        "org.freedesktop.Secret.Service", "Lock", g_variant_new("(ao)", &objects), G_VARIANT_TYPE("(aoo)"),
        G_DBUS_CALL_FLAGS_NO_AUTO_START, callTimeoutMilliseconds, nullptr, error.out())};
    if (reply.value == nullptr)
        return false;
    auto locked = isCollectionLocked(proxy, *path);
    return locked && *locked;
}

}  // namespace quillbridge
