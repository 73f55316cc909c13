#include "platform/linux/qt/QtFileContentTypeDetector.hpp"

#include <QByteArray>
#include <QMimeDatabase>
#include <QMimeType>
#include <QString>

#include "wire/ClipboardUniformType.hpp"

namespace quillbridge {

std::optional<std::string> QtFileContentTypeDetector::contentTypeIdentifier(const std::filesystem::path& path,
                                                                            ByteView contents) const {
    QMimeDatabase database;
    auto data = QByteArray::fromRawData(reinterpret_cast<const char*>(contents.data()),
                                        static_cast<qsizetype>(contents.size()));
    QMimeType mimeType =
        database.mimeTypeForFileNameAndData(QString::fromStdString(path.filename().string()), data);
    if (!mimeType.isValid() || mimeType.isDefault())
        return std::nullopt;
    QStringList candidates{mimeType.name()};
    candidates += mimeType.aliases();
    candidates += mimeType.allAncestors();
    for (const auto& candidate : candidates) {
        if (candidate == QStringLiteral("application/octet-stream"))
            break;
        if (auto type = ClipboardUniformType::withMimeType(candidate.toStdString()))
            return std::string(type->identifier());
    }
    return std::nullopt;
}

}  // namespace quillbridge
