#include "app/ApplicationsFolderCheck.hpp"

#include <string>
#include <system_error>

namespace quillbridge {

std::filesystem::path ApplicationsFolderCheck::resolved(const std::filesystem::path& path) {
    std::error_code error;
    auto absolute = std::filesystem::absolute(path, error);
    if (error) {
        return path.lexically_normal();
    }
    auto canonical = std::filesystem::weakly_canonical(absolute, error);
    return error ? absolute.lexically_normal() : canonical.lexically_normal();
}

bool ApplicationsFolderCheck::isInside(const std::filesystem::path& program,
                                       const std::filesystem::path& folder) {
    std::string prefix = resolved(folder).string();
    if (prefix.empty() || prefix.back() != '/') {
        prefix += '/';
    }
    const std::string candidate = resolved(program).string();
    return candidate.size() > prefix.size() && candidate.starts_with(prefix);
}

}  // namespace quillbridge
