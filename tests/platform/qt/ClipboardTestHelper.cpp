// A second X11 client for the clipboard tests. Two modes, each running until its standard input closes:
//
//   ClipboardTestHelper offer [--text T] [--html H] [--png FILE] [--file FILE]...
//       owns the clipboard with these formats (files as text/uri-list and x-special/gnome-copied-files),
//       then prints "ready".
//   ClipboardTestHelper paste-field
//       shows a window with a focused text field, prints "ready" once it has the keyboard focus, and
//       prints "text:<contents>" whenever the field changes.
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QLineEdit>
#include <QList>
#include <QMimeData>
#include <QSocketNotifier>
#include <QTimer>
#include <QUrl>

namespace {

void say(const QString& line) {
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

int offer(QApplication& application, const QStringList& arguments) {
    auto* data = new QMimeData;
    QList<QUrl> files;
    for (qsizetype index = 0; index + 1 < arguments.size(); index += 2) {
        const auto& option = arguments[index];
        const auto& value = arguments[index + 1];
        if (option == "--text") {
            data->setText(value);
        } else if (option == "--html") {
            data->setHtml(value);
        } else if (option == "--png") {
            QFile file(value);
            if (!file.open(QIODevice::ReadOnly))
                return 2;
            data->setData("image/png", file.readAll());
        } else if (option == "--file") {
            files.push_back(QUrl::fromLocalFile(value));
        } else {
            return 2;
        }
    }
    if (!files.isEmpty()) {
        data->setUrls(files);
        QByteArray copied = "copy";
        for (const auto& url : files)
            copied += "\n" + url.toEncoded();
        data->setData("x-special/gnome-copied-files", copied);
    }
    QApplication::clipboard()->setMimeData(data, QClipboard::Clipboard);
    say("ready");
    return application.exec();
}

int pasteField(QApplication& application) {
    QLineEdit field;
    field.setWindowTitle("Quillbridge paste target");
    field.resize(400, 40);
    QObject::connect(&field, &QLineEdit::textChanged, [](const QString& text) { say("text:" + text); });
    field.show();
    field.activateWindow();
    field.setFocus();
    QTimer poll;
    bool announced = false;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!announced && field.isActiveWindow() && field.hasFocus()) {
            announced = true;
            say("ready");
        } else if (!announced) {
            field.activateWindow();
        }
    });
    poll.start(20);
    return application.exec();
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication application(argc, argv);
    auto arguments = application.arguments().mid(1);
    if (arguments.isEmpty())
        return 2;

    // Quit when the test closes our standard input.
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[64];
        if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0)
            application.quit();
    });

    auto mode = arguments.takeFirst();
    if (mode == "offer")
        return offer(application, arguments);
    if (mode == "paste-field")
        return pasteField(application);
    return 2;
}
