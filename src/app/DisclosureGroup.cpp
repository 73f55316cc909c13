#include "app/DisclosureGroup.hpp"

#include <QVBoxLayout>

namespace quillbridge {

DisclosureGroup::DisclosureGroup(const QString& title, QWidget* content, QWidget* parent)
    : QWidget(parent),
      toggle_(new QToolButton(this)),
      icon_(new QLabel(this)),
      trailing_(new QLabel(this)),
      content_(content) {
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);

    auto* header = new QHBoxLayout();
    header->setSpacing(6);
    toggle_->setText(title);
    toggle_->setCheckable(true);
    toggle_->setAutoRaise(true);
    toggle_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    toggle_->setArrowType(Qt::RightArrow);
    header->addWidget(toggle_);
    icon_->hide();
    header->addWidget(icon_);
    header->addStretch(1);
    header->addSpacing(12);
    trailing_->setTextFormat(Qt::PlainText);
    QFont caption = trailing_->font();
    caption.setPointSizeF(caption.pointSizeF() * 0.85);
    trailing_->setFont(caption);
    trailing_->setForegroundRole(QPalette::PlaceholderText);
    trailing_->hide();
    header->addWidget(trailing_);
    stack->addLayout(header);

    content_->setParent(this);
    content_->setContentsMargins(0, 6, 0, 0);
    stack->addWidget(content_);
    content_->hide();

    QObject::connect(toggle_, &QToolButton::toggled, this, [this](bool expanded) {
        toggle_->setArrowType(expanded ? Qt::DownArrow : Qt::RightArrow);
        content_->setVisible(expanded);
    });
}

void DisclosureGroup::setExpanded(bool expanded) {
    toggle_->setChecked(expanded);
}

void DisclosureGroup::setIcon(const QIcon& icon) {
    // The arrow takes the button's icon place; the status icon stands beside the title.
    icon_->setPixmap(icon.pixmap(16, 16));
    icon_->setVisible(!icon.isNull());
}

void DisclosureGroup::setTrailingText(const QString& text) {
    trailing_->setText(text);
    trailing_->setVisible(!text.isEmpty());
}

void DisclosureGroup::setAccessibleValue(const QString& text) {
    toggle_->setAccessibleDescription(text);
}

}  // namespace quillbridge
