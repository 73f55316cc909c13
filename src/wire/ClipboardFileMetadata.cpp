#include "wire/ClipboardFileMetadata.hpp"

#include <vector>

#include "core/UnicodeText.hpp"
#include "wire/ClipboardLimits.hpp"
#include "wire/ClipboardRepresentation.hpp"
#include "wire/ClipboardUniformType.hpp"

namespace quillbridge {
namespace {

// The extension of a file name: what follows its last dot, unless that dot starts the name or ends it.
std::string_view pathExtension(std::string_view filename) {
    auto dot = filename.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == filename.size())
        return {};
    return filename.substr(dot + 1);
}

std::string_view deletingPathExtension(std::string_view filename) {
    auto extension = pathExtension(filename);
    if (extension.empty())
        return filename;
    return filename.substr(0, filename.size() - extension.size() - 1);
}

bool related(const ClipboardUniformType& left, const ClipboardUniformType& right) {
    return left.conforms(right) || right.conforms(left);
}

// The longest prefix of valid UTF-8 text that is at most `maximumByteCount` bytes and ends at a character
// boundary.
std::string_view utf8Prefix(std::string_view text, std::size_t maximumByteCount) {
    if (text.size() <= maximumByteCount)
        return text;
    std::size_t cut = maximumByteCount;
    // Continuation bytes (10xxxxxx) never start a character.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    return text.substr(0, cut);
}

}  // namespace

std::string ClipboardFileMetadata::localFilename() const {
    return shortenedFilename(suggestedFilename_, maximumLocalFilenameByteCount);
}

std::string ClipboardFileMetadata::shortenedFilename(std::string_view filename,
                                                     std::size_t maximumByteCount) {
    if (filename.size() <= maximumByteCount)
        return std::string(filename);
    auto extension = pathExtension(filename);
    std::size_t suffixByteCount = extension.empty() ? 0 : extension.size() + 1;
    if (suffixByteCount > 0 && suffixByteCount < maximumByteCount) {
        auto stem = utf8Prefix(filename.substr(0, filename.size() - suffixByteCount),
                               maximumByteCount - suffixByteCount);
        // An empty stem would turn the file into a hidden one named after its extension.
        if (!stem.empty())
            return std::string(stem) + std::string(filename.substr(filename.size() - suffixByteCount));
    }
    return std::string(utf8Prefix(filename, maximumByteCount));
}

std::optional<ClipboardFileMetadata> ClipboardFileMetadata::make(std::string suggestedFilename,
                                                                 std::string contentTypeIdentifier) {
    if (suggestedFilename.empty())
        return std::nullopt;
    if (suggestedFilename.size() > ClipboardLimits::maximumSuggestedFilenameByteCount)
        return std::nullopt;
    if (suggestedFilename == "." || suggestedFilename == "..")
        return std::nullopt;
    // A name holding a separator anywhere is not its own last path component. "/" alone would pass that
    // rule and name the item's directory itself, so any separator is refused.
    if (suggestedFilename.find('/') != std::string::npos)
        return std::nullopt;
    if (!isValidUtf8(suggestedFilename) || containsClipboardControlCharacter(suggestedFilename))
        return std::nullopt;
    if (!isValidClipboardTypeIdentifier(contentTypeIdentifier))
        return std::nullopt;
    return ClipboardFileMetadata(std::move(suggestedFilename), std::move(contentTypeIdentifier));
}

std::optional<ClipboardFileMetadata> ClipboardFileMetadata::inferred(
    std::span<const ClipboardRepresentation> representations,
    std::optional<std::string_view> proposedFilename) {
    const auto dataType = ClipboardUniformType::data();
    const auto imageType = ClipboardUniformType::image();

    std::optional<std::string> name;
    std::optional<ClipboardUniformType> nameType;
    if (proposedFilename && make(std::string(*proposedFilename), std::string(dataType.identifier()))) {
        name = std::string(*proposedFilename);
        nameType = ClipboardUniformType::withFilenameExtension(pathExtension(*name), dataType);
    }

    struct Candidate {
        const ClipboardRepresentation* representation;
        ClipboardUniformType type;
    };
    std::vector<Candidate> candidates;
    for (const auto& representation : representations) {
        auto type = ClipboardUniformType::withIdentifier(representation.typeIdentifier());
        if (type && type->conforms(imageType) && type->preferredFilenameExtension()) {
            candidates.push_back({&representation, *type});
        }
    }
    if (candidates.empty())
        return std::nullopt;

    const Candidate* chosen = &candidates.front();
    if (nameType) {
        for (const auto& candidate : candidates) {
            if (related(candidate.type, *nameType)) {
                chosen = &candidate;
                break;
            }
        }
    }
    auto extension = *chosen->type.preferredFilenameExtension();

    std::string filename;
    if (name && nameType && related(chosen->type, *nameType)) {
        filename = *name;
    } else if (name) {
        auto base = deletingPathExtension(*name);
        filename = std::string(base.empty() ? "Image" : base) + "." + std::string(extension);
    } else {
        filename = "Image." + std::string(extension);
    }
    return make(std::move(filename), chosen->representation->typeIdentifier());
}

bool operator==(const ClipboardFileMetadata& left, const ClipboardFileMetadata& right) {
    return canonicallyEquivalent(left.suggestedFilename_, right.suggestedFilename_) &&
           canonicallyEquivalent(left.contentTypeIdentifier_, right.contentTypeIdentifier_);
}

}  // namespace quillbridge
