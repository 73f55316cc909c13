#pragma once

#include <string_view>

#include <QString>

class QFrame;
class QIcon;
class QLabel;
class QVBoxLayout;
class QWidget;

namespace quillbridge::menu_widgets {

// The small pieces the host's menu and settings windows are built from. Text is always plain text: names come
// from the network and the system.

// The desktop's icon for a symbol name of the menu rules (empty for an unknown one).
QIcon symbolIcon(std::string_view symbol);
QFrame* divider(QWidget* parent);
// A divider with 4 pixels above and below.
QWidget* paddedDivider(QWidget* parent);
QLabel* textLabel(const QString& text, QWidget* parent);
QLabel* secondaryLabel(const QString& text, QWidget* parent);
QLabel* captionLabel(const QString& text, QWidget* parent);
QLabel* headlineLabel(const QString& text, QWidget* parent);
QLabel* calloutLabel(const QString& text, QWidget* parent);
void makeRed(QLabel* label);
// An icon and a headline in orange, as the banners begin.
QWidget* bannerTitle(std::string_view symbol, const QString& text, QWidget* parent);
// A widget stacking its children vertically with no margins, and that stack's layout.
QWidget* stackOf(QWidget* parent, int spacing);
QVBoxLayout* stackLayout(QWidget* widget);

}  // namespace quillbridge::menu_widgets
