#include "app/HostAboutWindow.hpp"

#include <QApplication>
#include <QFormLayout>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QShowEvent>
#include <QVBoxLayout>

#include "app/AppWindowAccessor.hpp"
#include "app/HostAboutDetails.hpp"
#include "app/QtHostWindow.hpp"

namespace quillbridge {
namespace {

QLabel* linkLabel(const HostAboutDetails::Link& link, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setText(QStringLiteral("<a href=\"%1\">%2</a>")
                       .arg(QString::fromStdString(link.destination).toHtmlEscaped(),
                            QString::fromStdString(link.label).toHtmlEscaped()));
    label->setTextFormat(Qt::RichText);
    label->setTextInteractionFlags(Qt::TextBrowserInteraction);
    label->setOpenExternalLinks(true);
    return label;
}

QFont captionFont(const QWidget& widget) {
    QFont font = widget.font();
    font.setPointSizeF(font.pointSizeF() * 0.85);
    return font;
}

}  // namespace

HostAboutDetailsView::HostAboutDetailsView(QWidget* parent) : QWidget(parent) {
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(8);
    stack->setAlignment(Qt::AlignLeft);

    auto* version = new QFormLayout();
    version->addRow(tr("Version"),
                    new QLabel(QString::fromStdString(HostAboutDetails::currentVersionText())));
    stack->addLayout(version);

    const auto productLinks = HostAboutDetails::productLinks();
    if (!productLinks.empty()) {
        auto* links = new QHBoxLayout();
        links->setSpacing(12);
        for (const auto& link : productLinks) {
            links->addWidget(linkLabel(link, this), 0, Qt::AlignVCenter);
        }
        links->addStretch();
        stack->addLayout(links);
    }

    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    stack->addWidget(divider);

    auto* heading = new QLabel(tr("Acknowledgements"), this);
    heading->setFont(captionFont(*heading));
    heading->setForegroundRole(QPalette::PlaceholderText);
    stack->addWidget(heading);
    for (const auto& link : HostAboutDetails::acknowledgements()) {
        auto* label = linkLabel(link, this);
        label->setFont(captionFont(*label));
        stack->addWidget(label);
    }
}

HostAboutWindow::HostAboutWindow(std::shared_ptr<HostAppActivationController> appActivationController,
                                 QWidget* parent)
    : QWidget(parent), appActivationController_(std::move(appActivationController)) {
    auto* stack = new QVBoxLayout(this);
    stack->setSpacing(16);
    stack->setContentsMargins(24, 24, 24, 24);

    auto* icon = new QLabel(this);
    icon->setPixmap(QApplication::windowIcon().pixmap(96, 96));
    icon->setFixedSize(96, 96);
    icon->setScaledContents(true);
    stack->addWidget(icon, 0, Qt::AlignHCenter);

    auto* name = new QLabel(QStringLiteral("Quillbridge Host"), this);
    QFont title = name->font();
    title.setPointSizeF(title.pointSizeF() * 1.4);
    title.setWeight(QFont::DemiBold);
    name->setFont(title);
    stack->addWidget(name, 0, Qt::AlignHCenter);

    stack->addWidget(new HostAboutDetailsView(this));
    setFixedWidth(420);

    new AppWindowAccessor(
        [controller = appActivationController_](QWidget* window) {
            if (window != nullptr) {
                controller->registerWindow(QtHostWindow::of(window), WindowRole::about);
            }
        },
        this);
}

void HostAboutWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!event->spontaneous()) {
        appActivationController_->present(WindowRole::about);
    }
}

void HostAboutWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (!event->spontaneous()) {
        appActivationController_->dismiss(WindowRole::about);
    }
}

void HostAppCommands::addTo(QMenu& menu, const OpenWindowAction& openWindow) {
    menu.addAction(QString::fromUtf8(aboutTitle), [&openWindow] { openWindow("about"); });
}

}  // namespace quillbridge
