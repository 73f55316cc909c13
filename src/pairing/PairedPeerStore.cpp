#include "pairing/PairedPeerStore.hpp"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <numeric>

#include <utf8proc.h>

#include "core/Json.hpp"
#include "core/Logger.hpp"

namespace quillbridge {

namespace {

const Logger& logger() {
    static const Logger instance{"PairedPeerStore"};
    return instance;
}

// Copies kept of unreadable peer lists; once all slots are taken, the last one is reused.
constexpr int maximumUnreadableCopies = 20;

// Case-folded text, decomposed, with or without its combining marks.
std::string foldedText(std::string_view text, bool stripMarks) {
    int options = UTF8PROC_STABLE | UTF8PROC_DECOMPOSE | UTF8PROC_CASEFOLD | UTF8PROC_IGNORE;
    if (stripMarks)
        options |= UTF8PROC_STRIPMARK;
    utf8proc_uint8_t* mapped = nullptr;
    auto length = utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(text.data()),
                               static_cast<utf8proc_ssize_t>(text.size()), &mapped,
                               static_cast<utf8proc_option_t>(options));
    if (length < 0)
        return std::string(text);
    std::unique_ptr<utf8proc_uint8_t, decltype(&std::free)> owner(mapped, &std::free);
    return std::string(reinterpret_cast<const char*>(mapped), static_cast<std::size_t>(length));
}

}  // namespace

PairedPeerStore::PairedPeerStore(DefaultsStore& defaults, SecretStore& secrets, PairingRole role)
    : defaults_(defaults), secrets_(secrets), role_(role) {}

std::string PairedPeerStore::name(std::string_view suffix) const {
    std::string text(rawValue(role_));
    text += '.';
    text += suffix;
    return text;
}

Uuid PairedPeerStore::localPeerID() {
    auto key = localPeerIDKey();
    if (auto stored = defaults_.string(key)) {
        if (auto id = Uuid::parse(*stored))
            return *id;
    }
    Uuid id = Uuid::random();
    if (!defaults_.setString(key, id.string())) {
        logger().error("Unable to store the local peer identifier");
    }
    return id;
}

std::optional<P256SigningKey> PairedPeerStore::loadOrCreateSigningKey() {
    auto account = signingKeyAccount();
    auto stored = secrets_.read(signingKeyService, account);
    if (!stored) {
        logger().error("Unable to read the signing private key from the keychain: ",
                       secretStoreStatus(stored.error()));
        return std::nullopt;
    }
    if (*stored) {
        auto key = P256SigningKey::fromRawRepresentation(**stored);
        if (!key)
            logger().error("The stored signing private key is invalid");
        return key;
    }

    auto key = P256SigningKey::generate();
    if (!secrets_.write(signingKeyService, account, key.rawRepresentation())) {
        logger().error(
            "Failed to persist the signing private key to the keychain; existing pairings will break on "
            "relaunch");
        return std::nullopt;
    }
    return key;
}

bool PairedPeerStore::namePrecedes(std::string_view left, std::string_view right) {
    auto leftBase = foldedText(left, true);
    auto rightBase = foldedText(right, true);
    if (leftBase != rightBase)
        return leftBase < rightBase;
    return foldedText(left, false) < foldedText(right, false);
}

PairedPeerStore::LoadedPeers PairedPeerStore::loadPeers() const {
    LoadedPeers loaded;
    auto stored = defaults_.value(pairedPeersKey());
    if (!stored)
        return loaded;
    if (auto* data = std::get_if<Bytes>(&*stored)) {
        if (auto peers = decodeJson<std::vector<PairedPeerRecord>>(asText(*data))) {
            loaded.peers = std::move(*peers);
            return loaded;
        }
    }
    loaded.unreadable = std::move(*stored);
    return loaded;
}

std::vector<PairedPeerRecord> PairedPeerStore::sortedByName(std::vector<PairedPeerRecord> peers) {
    // Equal names keep their stored order. (std::stable_sort would do, but libstdc++ 12 builds its
    // temporary buffer with a function that clang 19 reports as deprecated.)
    std::vector<std::size_t> order(peers.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(), [&](std::size_t left, std::size_t right) {
        if (namePrecedes(peers[left].name, peers[right].name)) {
            return true;
        }
        return !namePrecedes(peers[right].name, peers[left].name) && left < right;
    });
    std::vector<PairedPeerRecord> sorted;
    sorted.reserve(peers.size());
    for (auto index : order) {
        sorted.push_back(std::move(peers[index]));
    }
    return sorted;
}

std::vector<PairedPeerRecord> PairedPeerStore::allPeers() const {
    return sortedByName(loadPeers().peers);
}

std::optional<PairedPeerRecord> PairedPeerStore::peer(const Uuid& id) const {
    for (auto& record : allPeers()) {
        if (record.id == id)
            return record;
    }
    return std::nullopt;
}

void PairedPeerStore::upsert(const PairedPeerRecord& record) {
    auto loaded = loadPeers();
    auto peers = sortedByName(loaded.peers);
    auto found =
        std::find_if(peers.begin(), peers.end(), [&](const auto& item) { return item.id == record.id; });
    if (found != peers.end()) {
        *found = record;
    } else {
        peers.push_back(record);
    }
    saveReplacing(loaded, peers);
}

void PairedPeerStore::removePeer(const Uuid& id) {
    auto loaded = loadPeers();
    std::vector<PairedPeerRecord> kept;
    for (auto& record : sortedByName(loaded.peers)) {
        if (record.id != id)
            kept.push_back(std::move(record));
    }
    saveReplacing(loaded, kept);
}

void PairedPeerStore::saveReplacing(const LoadedPeers& loaded, const std::vector<PairedPeerRecord>& peers) {
    if (loaded.unreadable && !backUpUnreadable(*loaded.unreadable)) {
        logger().error("Unable to keep a copy of the unreadable paired-peer list; it was not replaced");
        return;
    }
    save(peers);
}

bool PairedPeerStore::backUpUnreadable(const DefaultsValue& value) {
    std::string base = unreadablePeersKey();
    std::string key = base;
    for (int copy = 1; copy <= maximumUnreadableCopies; ++copy) {
        key = copy == 1 ? base : base + "." + std::to_string(copy);
        auto existing = defaults_.value(key);
        if (!existing)
            break;
        // Already kept (an earlier save that failed afterwards, say).
        if (*existing == value)
            return true;
    }
    if (!defaults_.setValue(key, value))
        return false;
    logger().error("The stored paired-peer list could not be read; kept a copy under ", key,
                   " before replacing it");
    return true;
}

void PairedPeerStore::save(const std::vector<PairedPeerRecord>& peers) {
    auto json = encodeJson(peers);
    if (!json)
        return;
    if (!defaults_.setData(pairedPeersKey(), toBytes(*json))) {
        logger().error("Unable to store the paired-peer list");
    }
}

}  // namespace quillbridge
