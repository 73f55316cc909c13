#include "platform/linux/update/SoftwareUpdateDialog.hpp"

#include <gtest/gtest.h>
#include <cstdlib>

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTextBrowser>

#include "platform/linux/update/SoftwareUpdateWindow.hpp"

namespace quillbridge {
namespace {

using Choice = SoftwareUpdateUserInterface::Choice;

class SoftwareUpdateDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        dialog.setHandlers([this](Choice choice) { choices.push_back(choice); }, [this] { ++closings; });
    }

    SoftwareUpdateWindow& window() { return dialog.window(); }

    SoftwareUpdateDialog dialog;
    std::vector<Choice> choices;
    int closings = 0;
};

TEST_F(SoftwareUpdateDialogTest, OffersTheUpdateWithItsNotesAsPlainText) {
    AppcastItem item;
    item.displayVersionString = "1.5.0";
    item.releaseNotes =
        "<img src=\"https://tracker.example/x.png\">Faster <b>streams</b>\n\nFixes:\n- The "
        "camera starts sooner.\n- Pairing codes are read aloud.";
    dialog.showUpdate(item, "1.4.0");
    EXPECT_TRUE(window().isVisible());
    EXPECT_EQ(window().windowTitle(), QStringLiteral("Software Update"));
    EXPECT_EQ(window().detail->text(),
              QStringLiteral(
                  "Quillbridge Host 1.5.0 is available—you have 1.4.0. Would you like to install it now?"));
    EXPECT_EQ(window().releaseNotes->toPlainText().toStdString(), item.releaseNotes)
        << "markup is not rendered";
    EXPECT_TRUE(window().installButton->isVisible());
    EXPECT_TRUE(window().skipButton->isVisible());
    EXPECT_TRUE(window().laterButton->isVisible());
    EXPECT_FALSE(window().progress->isVisible());

    // QUILLBRIDGE_SCREENSHOT_FOLDER=DIR keeps a picture of the window for a person to look at.
    if (const char* folder = std::getenv("QUILLBRIDGE_SCREENSHOT_FOLDER")) {
        window().grab().save(QString::fromUtf8(folder) + QStringLiteral("/software-update-window.png"));
    }

    window().installButton->click();
    window().skipButton->click();
    window().laterButton->click();
    EXPECT_EQ(choices,
              (std::vector<Choice>{Choice::install, Choice::skipThisVersion, Choice::remindMeLater}));
}

TEST_F(SoftwareUpdateDialogTest, ProgressThenInstallingThenResult) {
    dialog.showUpdate(AppcastItem{}, "1.4.0");
    dialog.showDownloadProgress(1500, 3000);
    EXPECT_TRUE(window().progress->isVisible());
    EXPECT_EQ(window().progress->value(), 500);
    EXPECT_FALSE(window().installButton->isVisible());
    dialog.showDownloadProgress(5'000'000'000, 10'000'000'000);
    EXPECT_EQ(window().progress->value(), 500) << "lengths beyond int range";

    dialog.showInstalling();
    window().close();
    EXPECT_TRUE(window().isVisible()) << "the window stays while the package manager runs";
    EXPECT_EQ(closings, 0);

    dialog.showError("An error occurred while installing the update. Please try again later.");
    EXPECT_EQ(window().title->text(), QStringLiteral("Update Error!"));
    EXPECT_TRUE(window().doneButton->isVisible());
    window().doneButton->click();
    EXPECT_FALSE(window().isVisible());
    EXPECT_EQ(closings, 1);
}

TEST_F(SoftwareUpdateDialogTest, ClosingByTheUpdaterIsNotReportedBack) {
    dialog.showChecking();
    EXPECT_TRUE(window().isVisible());
    dialog.close();
    EXPECT_FALSE(window().isVisible());
    EXPECT_EQ(closings, 0);
    dialog.showUpToDate("1.4.0");
    EXPECT_EQ(window().title->text(), QStringLiteral("You’re up to date!"));
    window().close();
    EXPECT_EQ(closings, 1);
}

}  // namespace
}  // namespace quillbridge
