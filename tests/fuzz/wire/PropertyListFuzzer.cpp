// Feeds arbitrary bytes to the property-list readers (binary, XML, old text form) and to the colour
// equality built on them. Nothing may crash, and a value that reads must give a stable canonical text.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "core/Bytes.hpp"
#include "wire/PropertyListReader.hpp"
#include "wire/VideoColorPropertiesMessage.hpp"

using namespace quillbridge;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ByteView bytes(data, size);
    auto value = readPropertyList(bytes);
    if (value) {
        auto text = canonicalPropertyListDescription(*value);
        if (text != canonicalPropertyListDescription(*value))
            std::abort();
    }
    // Each reader on its own, whatever the data looks like.
    (void)readBinaryPropertyList(bytes);
    (void)readXmlPropertyList(bytes);
    (void)readTextPropertyList(bytes);

    VideoColorPropertiesMessage left;
    left.formatDescriptionExtensionsData = Bytes(bytes.begin(), bytes.end());
    if (!(left == left))
        std::abort();
    VideoColorPropertiesMessage absent;
    if ((left == absent) != !canonicalFormatDescriptionExtensionsText(left.formatDescriptionExtensionsData)) {
        std::abort();
    }
    return 0;
}
