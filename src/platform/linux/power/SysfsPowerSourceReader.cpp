#include "platform/linux/power/SysfsPowerSourceReader.hpp"

#include <array>
#include <fstream>
#include <string>
#include <utility>

namespace quillbridge {

namespace {

// Attributes are a word and a newline; anything longer is not one we know.
constexpr std::size_t maximumAttributeLength = 64;

std::optional<std::string> readAttribute(const std::filesystem::path& file) {
    std::ifstream stream(file, std::ios::binary);
    if (!stream)
        return std::nullopt;
    std::array<char, maximumAttributeLength + 1> buffer{};
    stream.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    if (stream.bad())
        return std::nullopt;
    auto length = static_cast<std::size_t>(stream.gcount());
    if (length > maximumAttributeLength)
        return std::nullopt;
    std::string text(buffer.data(), length);
    auto isSpace = [](char c) { return c == ' ' || c == '\n' || c == '\t' || c == '\r'; };
    while (!text.empty() && isSpace(text.back()))
        text.pop_back();
    std::size_t start = 0;
    while (start < text.size() && isSpace(text[start]))
        ++start;
    return text.substr(start);
}

}  // namespace

SysfsPowerSourceReader::SysfsPowerSourceReader(std::filesystem::path root) : root(std::move(root)) {}

std::optional<std::vector<PowerSourceDescription>> SysfsPowerSourceReader::powerSources() const {
    std::error_code error;
    std::filesystem::directory_iterator entries(root, error);
    if (error)
        return std::nullopt;
    std::vector<PowerSourceDescription> sources;
    for (; entries != std::filesystem::directory_iterator(); entries.increment(error)) {
        auto type = readAttribute(entries->path() / "type");
        if (!type)
            continue;
        sources.push_back({std::move(*type), readAttribute(entries->path() / "scope").value_or("")});
    }
    if (error)
        return std::nullopt;
    return sources;
}

}  // namespace quillbridge
