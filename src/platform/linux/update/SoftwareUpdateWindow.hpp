#pragma once

#include <functional>

#include <QWidget>

#include "platform/linux/update/SoftwareUpdateUserInterface.hpp"

class QLabel;
class QProgressBar;
class QPushButton;
class QTextBrowser;

namespace quillbridge {

// The widgets of the updater's window; SoftwareUpdateDialog decides what they show.
class SoftwareUpdateWindow final : public QWidget {
public:
    SoftwareUpdateWindow();

    void choose(SoftwareUpdateUserInterface::Choice choice);
    void showOnly(bool notes, bool bar, bool choices, bool done);

    QLabel* title = nullptr;
    QLabel* detail = nullptr;
    QTextBrowser* releaseNotes = nullptr;
    QProgressBar* progress = nullptr;
    QPushButton* skipButton = nullptr;
    QPushButton* laterButton = nullptr;
    QPushButton* installButton = nullptr;
    QPushButton* doneButton = nullptr;
    std::function<void(SoftwareUpdateUserInterface::Choice)> onChoose;
    std::function<void()> onClosed;
    // While the package manager runs the window stays.
    bool closingRefused = false;
    bool closingQuietly = false;

protected:
    void closeEvent(QCloseEvent* event) override;
};

}  // namespace quillbridge
