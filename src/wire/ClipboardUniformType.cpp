#include "wire/ClipboardUniformType.hpp"

#include <array>
#include <cstddef>
#include <vector>

#include "core/UnicodeText.hpp"

namespace quillbridge {
namespace {

// One row of the table: identifier, the identifiers it directly conforms to, its file name extensions
// (preferred first) and its MIME type; lists are separated by spaces.
struct Row {
    std::string_view identifier;
    std::string_view conformsTo;
    std::string_view filenameExtensions;
    std::string_view mimeType;
};

constexpr Row rows[] = {
    // The abstract roots.
    {"public.item", "", "", ""},
    {"public.content", "public.item", "", ""},
    {"public.data", "public.item", "", ""},
    {"public.composite-content", "public.content", "", ""},
    {"public.archive", "public.data", "", ""},
    {"public.audiovisual-content", "public.data public.content", "", ""},
    // Text.
    {"public.text", "public.data public.content", "", ""},
    {"public.plain-text", "public.text", "txt text", "text/plain"},
    {"public.utf8-plain-text", "public.plain-text", "", "text/plain;charset=utf-8"},
    {"public.utf16-plain-text", "public.plain-text", "", "text/plain;charset=utf-16"},
    {"public.utf16-external-plain-text", "public.plain-text", "", ""},
    {"public.delimited-values-text", "public.text", "", ""},
    {"public.comma-separated-values-text", "public.delimited-values-text", "csv", "text/csv"},
    {"public.tab-separated-values-text", "public.delimited-values-text", "tsv", "text/tab-separated-values"},
    {"public.rtf", "public.text", "rtf", "text/rtf"},
    {"com.apple.flat-rtfd", "public.data public.composite-content", "", ""},
    {"public.html", "public.text", "html htm", "text/html"},
    {"public.xml", "public.text", "xml", "application/xml"},
    {"public.json", "public.text", "json", "application/json"},
    {"net.daringfireball.markdown", "public.plain-text", "md markdown", "text/markdown"},
    {"public.vcard", "public.text", "vcf vcard", "text/vcard"},
    // Links.
    {"public.url", "public.data", "", ""},
    {"public.file-url", "public.url", "", ""},
    // Images.
    {"public.image", "public.data public.content", "", ""},
    {"public.png", "public.image", "png", "image/png"},
    {"public.jpeg", "public.image", "jpeg jpg jpe", "image/jpeg"},
    {"public.tiff", "public.image", "tiff tif", "image/tiff"},
    {"com.compuserve.gif", "public.image", "gif", "image/gif"},
    {"com.microsoft.bmp", "public.image", "bmp", "image/bmp"},
    {"public.heif-standard", "public.image", "", ""},
    {"public.heic", "public.heif-standard", "heic", "image/heic"},
    {"public.heif", "public.heif-standard", "heif", "image/heif"},
    {"public.avif", "public.image", "avif", "image/avif"},
    {"org.webmproject.webp", "public.image", "webp", "image/webp"},
    {"public.svg-image", "public.image", "svg", "image/svg+xml"},
    {"com.microsoft.ico", "public.image", "ico", "image/vnd.microsoft.icon"},
    {"com.apple.icns", "public.image", "icns", ""},
    {"public.jpeg-2000", "public.image", "jp2", "image/jp2"},
    {"com.adobe.photoshop-image", "public.image", "psd", "image/vnd.adobe.photoshop"},
    {"public.camera-raw-image", "public.image", "", ""},
    // Documents.
    {"com.adobe.pdf", "public.data public.composite-content", "pdf", "application/pdf"},
    {"com.microsoft.word.doc", "public.data public.composite-content", "doc", "application/msword"},
    {"org.openxmlformats.wordprocessingml.document", "public.zip-archive public.composite-content", "docx",
     "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
    {"org.openxmlformats.spreadsheetml.sheet", "public.zip-archive public.composite-content", "xlsx",
     "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
    {"org.openxmlformats.presentationml.presentation", "public.zip-archive public.composite-content", "pptx",
     "application/vnd.openxmlformats-officedocument.presentationml.presentation"},
    // Sound and video.
    {"public.audio", "public.audiovisual-content", "", ""},
    {"public.mp3", "public.audio", "mp3", "audio/mpeg"},
    {"public.mpeg-4-audio", "public.audio", "m4a", "audio/mp4"},
    {"com.microsoft.waveform-audio", "public.audio", "wav wave", "audio/wav"},
    {"public.aiff-audio", "public.audio", "aiff aif", "audio/aiff"},
    {"org.xiph.flac", "public.audio", "flac", "audio/flac"},
    {"public.movie", "public.audiovisual-content", "", ""},
    {"public.video", "public.movie", "", ""},
    {"public.mpeg-4", "public.movie", "mp4", "video/mp4"},
    {"com.apple.quicktime-movie", "public.movie", "mov qt", "video/quicktime"},
    {"org.webmproject.webm", "public.movie", "webm", "video/webm"},
    // Archives.
    {"public.zip-archive", "public.archive", "zip", "application/zip"},
    {"org.gnu.gnu-zip-archive", "public.archive", "gz gzip", "application/gzip"},
    {"public.tar-archive", "public.archive", "tar", "application/x-tar"},
};

constexpr std::size_t rowCount = std::size(rows);

std::vector<std::string_view> splitList(std::string_view list) {
    std::vector<std::string_view> items;
    while (!list.empty()) {
        auto space = list.find(' ');
        auto item = list.substr(0, space);
        if (!item.empty())
            items.push_back(item);
        if (space == std::string_view::npos)
            break;
        list.remove_prefix(space + 1);
    }
    return items;
}

char lowerAscii(char character) {
    return character >= 'A' && character <= 'Z' ? static_cast<char>(character - 'A' + 'a') : character;
}

bool equalIgnoringAsciiCase(std::string_view left, std::string_view right) {
    if (left.size() != right.size())
        return false;
    for (std::size_t index = 0; index < left.size(); ++index) {
        if (lowerAscii(left[index]) != lowerAscii(right[index]))
            return false;
    }
    return true;
}

// The table with its lists split, built once. The string views point into the literals above.
struct Table {
    std::array<std::vector<std::string_view>, rowCount> parents;
    std::array<std::vector<std::string_view>, rowCount> extensions;
    std::array<ClipboardUniformType::Declaration, rowCount> declarations;

    Table() {
        for (std::size_t index = 0; index < rowCount; ++index) {
            parents[index] = splitList(rows[index].conformsTo);
            extensions[index] = splitList(rows[index].filenameExtensions);
            declarations[index] = {rows[index].identifier, parents[index], extensions[index],
                                   rows[index].mimeType};
        }
    }

    const ClipboardUniformType::Declaration* find(std::string_view identifier) const {
        for (const auto& declaration : declarations) {
            if (equalIgnoringAsciiCase(declaration.identifier, identifier))
                return &declaration;
        }
        return nullptr;
    }
};

const Table& table() {
    static const Table instance;
    return instance;
}

bool conformsTo(const ClipboardUniformType::Declaration& declaration, std::string_view supertype,
                std::size_t depth) {
    if (declaration.identifier == supertype)
        return true;
    if (depth > rowCount)
        return false;  // the table has no cycles; this only bounds a faulty edit
    for (auto parent : declaration.conformsTo) {
        const auto* found = table().find(parent);
        if (found && conformsTo(*found, supertype, depth + 1))
            return true;
    }
    return false;
}

}  // namespace

std::optional<ClipboardUniformType> ClipboardUniformType::withIdentifier(std::string_view identifier) {
    const auto* found = table().find(identifier);
    if (!found)
        return std::nullopt;
    return ClipboardUniformType(found);
}

std::optional<ClipboardUniformType> ClipboardUniformType::withFilenameExtension(
    std::string_view filenameExtension, const ClipboardUniformType& supertype) {
    if (filenameExtension.empty())
        return std::nullopt;
    for (const auto& declaration : table().declarations) {
        for (auto candidate : declaration.filenameExtensions) {
            if (equalIgnoringAsciiCase(candidate, filenameExtension)) {
                ClipboardUniformType type(&declaration);
                if (type.conforms(supertype))
                    return type;
            }
        }
    }
    return std::nullopt;
}

std::optional<ClipboardUniformType> ClipboardUniformType::withMimeType(std::string_view mimeType) {
    if (mimeType.empty())
        return std::nullopt;
    for (const auto& declaration : table().declarations) {
        if (equalIgnoringAsciiCase(declaration.mimeType, mimeType))
            return ClipboardUniformType(&declaration);
    }
    return std::nullopt;
}

namespace {
ClipboardUniformType known(std::string_view identifier) {
    // Every name below is in the table; the tests check each.
    return *ClipboardUniformType::withIdentifier(identifier);
}
}  // namespace

ClipboardUniformType ClipboardUniformType::item() {
    return known("public.item");
}
ClipboardUniformType ClipboardUniformType::data() {
    return known("public.data");
}
ClipboardUniformType ClipboardUniformType::content() {
    return known("public.content");
}
ClipboardUniformType ClipboardUniformType::text() {
    return known("public.text");
}
ClipboardUniformType ClipboardUniformType::plainText() {
    return known("public.plain-text");
}
ClipboardUniformType ClipboardUniformType::utf8PlainText() {
    return known("public.utf8-plain-text");
}
ClipboardUniformType ClipboardUniformType::url() {
    return known("public.url");
}
ClipboardUniformType ClipboardUniformType::fileURL() {
    return known("public.file-url");
}
ClipboardUniformType ClipboardUniformType::image() {
    return known("public.image");
}
ClipboardUniformType ClipboardUniformType::png() {
    return known("public.png");
}

std::span<const ClipboardUniformType::Declaration> ClipboardUniformType::declarations() {
    return table().declarations;
}

std::string_view ClipboardUniformType::identifier() const {
    return declaration_->identifier;
}

std::span<const std::string_view> ClipboardUniformType::filenameExtensions() const {
    return declaration_->filenameExtensions;
}

std::optional<std::string_view> ClipboardUniformType::preferredFilenameExtension() const {
    if (declaration_->filenameExtensions.empty())
        return std::nullopt;
    return declaration_->filenameExtensions.front();
}

std::optional<std::string_view> ClipboardUniformType::preferredMimeType() const {
    if (declaration_->mimeType.empty())
        return std::nullopt;
    return declaration_->mimeType;
}

bool ClipboardUniformType::conforms(const ClipboardUniformType& supertype) const {
    return conformsTo(*declaration_, supertype.identifier(), 0);
}

const std::set<std::string>& fileLikePasteboardTypes() {
    static const std::set<std::string> types{
        "NSFilenamesPboardType",
        "com.apple.alias-file",
        "com.apple.bookmark",
        "com.apple.pasteboard.promised-file-content-type",
        "com.apple.pasteboard.promised-file-name",
        "com.apple.pasteboard.promised-suggested-file-name",
        "com.apple.pasteboard.promised-file-url",
        "com.apple.NSFilePromiseItemMetaData",
        "com.apple.pasteboard.NSFilePromiseID",
        std::string(ClipboardUniformType::fileURL().identifier()),
    };
    return types;
}

bool isFileLikePasteboardType(std::string_view typeIdentifier) {
    const auto& types = fileLikePasteboardTypes();
    if (types.contains(std::string(typeIdentifier)))
        return true;
    // The set holds ASCII text, which is its own canonical decomposition.
    return types.contains(canonicalDecomposition(typeIdentifier));
}

}  // namespace quillbridge
