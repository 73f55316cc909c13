#include "app/MenuWidgets.hpp"

#include <QApplication>
#include <QColor>
#include <QFont>
#include <QFrame>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPalette>
#include <QStyle>
#include <QVBoxLayout>

namespace quillbridge::menu_widgets {

QIcon symbolIcon(std::string_view symbol) {
    QStyle* style = QApplication::style();
    if (symbol == "exclamationmark.triangle.fill" || symbol == "video.badge.exclamationmark") {
        return style->standardIcon(QStyle::SP_MessageBoxWarning);
    }
    if (symbol == "exclamationmark.circle.fill") {
        return style->standardIcon(QStyle::SP_MessageBoxWarning);
    }
    if (symbol == "checkmark.circle.fill") {
        return style->standardIcon(QStyle::SP_DialogApplyButton);
    }
    if (symbol == "arrow.down.circle.fill") {
        return style->standardIcon(QStyle::SP_ArrowDown);
    }
    if (symbol == "arrow.clockwise.circle.fill" || symbol == "arrow.trianglehead.2.clockwise.rotate.90") {
        return style->standardIcon(QStyle::SP_BrowserReload);
    }
    if (symbol == "mic.badge.plus") {
        return style->standardIcon(QStyle::SP_MediaVolume);
    }
    if (symbol == "vision.pro") {
        return style->standardIcon(QStyle::SP_ComputerIcon);
    }
    if (symbol == "info.circle") {
        return style->standardIcon(QStyle::SP_MessageBoxInformation);
    }
    return {};
}

QFrame* divider(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

QWidget* paddedDivider(QWidget* parent) {
    auto* holder = new QWidget(parent);
    auto* layout = new QVBoxLayout(holder);
    layout->setContentsMargins(0, 4, 0, 4);
    layout->addWidget(divider(holder));
    return holder;
}

QLabel* textLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

QLabel* secondaryLabel(const QString& text, QWidget* parent) {
    auto* label = textLabel(text, parent);
    label->setForegroundRole(QPalette::PlaceholderText);
    return label;
}

QLabel* captionLabel(const QString& text, QWidget* parent) {
    auto* label = secondaryLabel(text, parent);
    QFont caption = label->font();
    caption.setPointSizeF(caption.pointSizeF() * 0.85);
    label->setFont(caption);
    return label;
}

QLabel* headlineLabel(const QString& text, QWidget* parent) {
    auto* label = textLabel(text, parent);
    QFont headline = label->font();
    headline.setWeight(QFont::Bold);
    label->setFont(headline);
    return label;
}

QLabel* calloutLabel(const QString& text, QWidget* parent) {
    auto* label = textLabel(text, parent);
    QFont callout = label->font();
    callout.setPointSizeF(callout.pointSizeF() * 0.95);
    callout.setWeight(QFont::DemiBold);
    label->setFont(callout);
    return label;
}

void makeRed(QLabel* label) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, QColor(0xd0, 0x2b, 0x2b));
    label->setPalette(palette);
    label->setForegroundRole(QPalette::WindowText);
}

QWidget* bannerTitle(std::string_view symbol, const QString& text, QWidget* parent) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    auto* icon = new QLabel(row);
    icon->setPixmap(symbolIcon(symbol).pixmap(18, 18));
    layout->addWidget(icon, 0, Qt::AlignTop);
    auto* title = headlineLabel(text, row);
    QPalette palette = title->palette();
    palette.setColor(QPalette::WindowText, QColor(0xdd, 0x6b, 0x20));
    title->setPalette(palette);
    layout->addWidget(title, 1);
    return row;
}

QWidget* stackOf(QWidget* parent, int spacing) {
    auto* widget = new QWidget(parent);
    auto* layout = new QVBoxLayout(widget);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    return widget;
}

QVBoxLayout* stackLayout(QWidget* widget) {
    return static_cast<QVBoxLayout*>(widget->layout());
}

}  // namespace quillbridge::menu_widgets
