#include "platform/linux/qt/XdgOpenPermissionHelpPage.hpp"

#include <system_error>
#include <utility>

#include <QProcess>
#include <QString>
#include <QUrl>

#include "core/Logger.hpp"

namespace quillbridge {
namespace {

const Logger logger{"PermissionHelp"};

}  // namespace

std::filesystem::path XdgOpenPermissionHelpPage::installedPage(const std::filesystem::path& prefix) {
    return prefix / "share" / "quillbridge" / "help" / "permissions.html";
}

std::string XdgOpenPermissionHelpPage::sectionURL(const std::filesystem::path& page,
                                                  std::string_view section) {
    QUrl url = QUrl::fromLocalFile(QString::fromStdString(page.string()));
    url.setFragment(QString::fromUtf8(section.data(), static_cast<qsizetype>(section.size())));
    return url.toString(QUrl::FullyEncoded).toStdString();
}

XdgOpenPermissionHelpPage::XdgOpenPermissionHelpPage(std::filesystem::path page, std::string opener)
    : page_(std::move(page)), opener_(std::move(opener)) {}

void XdgOpenPermissionHelpPage::openSection(std::string_view section) {
    if (!isSection(section)) {
        logger.error("The help page has no section named ", section);
        return;
    }
    std::error_code error;
    if (!std::filesystem::is_regular_file(page_, error)) {
        logger.error("The help page is not installed at ", page_.string());
        return;
    }
    const std::string url = sectionURL(page_, section);
    if (!QProcess::startDetached(QString::fromStdString(opener_), {QString::fromStdString(url)})) {
        logger.error("Unable to open ", url, " with ", opener_);
    }
}

}  // namespace quillbridge
