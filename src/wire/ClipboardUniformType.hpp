#pragma once

#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>

namespace quillbridge {

// The clipboard's vocabulary of uniform type identifiers, the names the headset gives the forms of a
// clipboard item ("public.png", "public.utf8-plain-text", ...), from a built-in table: each known type
// has its identifier, the types it directly conforms to, its file name extensions (the first one
// preferred) and its MIME type, if it has one. Conformance is transitive and every type conforms to
// itself. The clipboard code uses the table to type files by extension, to give image data a file name,
// and to map identifiers to and from the MIME targets of the desktop clipboard.
//
// Identifiers, extensions and MIME types are matched without regard to ASCII case. An identifier that the
// table does not hold names no type.
class ClipboardUniformType {
public:
    // One row of the table.
    struct Declaration {
        std::string_view identifier;
        std::span<const std::string_view> conformsTo;
        std::span<const std::string_view> filenameExtensions;
        std::string_view mimeType;  // empty when the type has none
    };

    // The type of an identifier, if the table knows it.
    static std::optional<ClipboardUniformType> withIdentifier(std::string_view identifier);
    // The first type in the table that claims this extension (without its dot) and conforms to
    // `supertype`; nothing for an empty or unknown extension.
    static std::optional<ClipboardUniformType> withFilenameExtension(std::string_view filenameExtension,
                                                                     const ClipboardUniformType& supertype);
    // The type whose MIME type this is, compared in full (parameters included).
    static std::optional<ClipboardUniformType> withMimeType(std::string_view mimeType);

    // Types that the clipboard code names directly.
    static ClipboardUniformType item();
    static ClipboardUniformType data();
    static ClipboardUniformType content();
    static ClipboardUniformType text();
    static ClipboardUniformType plainText();
    static ClipboardUniformType utf8PlainText();  // the pasteboard's string type
    static ClipboardUniformType url();            // the pasteboard's URL type
    static ClipboardUniformType fileURL();        // the pasteboard's file-URL type
    static ClipboardUniformType image();
    static ClipboardUniformType png();

    // Every type in the table, in table order.
    static std::span<const Declaration> declarations();

    std::string_view identifier() const;
    std::span<const std::string_view> filenameExtensions() const;
    std::optional<std::string_view> preferredFilenameExtension() const;
    std::optional<std::string_view> preferredMimeType() const;
    bool conforms(const ClipboardUniformType& supertype) const;

    friend bool operator==(const ClipboardUniformType& left, const ClipboardUniformType& right) {
        return left.declaration_ == right.declaration_;
    }

private:
    explicit ClipboardUniformType(const Declaration* declaration) : declaration_(declaration) {}

    const Declaration* declaration_;
};

// The pasteboard types that stand for files, file promises or bookmarks rather than content. Capture
// skips them as representations and apply refuses them.
const std::set<std::string>& fileLikePasteboardTypes();

// Whether a type is one of fileLikePasteboardTypes (compared by canonical equivalence).
bool isFileLikePasteboardType(std::string_view typeIdentifier);

}  // namespace quillbridge
