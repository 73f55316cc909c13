#pragma once

#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>
#include <QWidget>

namespace quillbridge {

// A group with a header that expands and collapses its content: the header holds the arrow, the title with
// its icon, and after a flexible space of at least 12 pixels an optional trailing text.
class DisclosureGroup final : public QWidget {
public:
    DisclosureGroup(const QString& title, QWidget* content, QWidget* parent = nullptr);

    bool isExpanded() const { return toggle_->isChecked(); }
    void setExpanded(bool expanded);
    void setIcon(const QIcon& icon);
    // The caption text at the header's trailing edge, shown as plain text.
    void setTrailingText(const QString& text);
    // What a screen reader hears as the header's value.
    void setAccessibleValue(const QString& text);

    QToolButton* toggle() const { return toggle_; }
    QLabel* trailingLabel() const { return trailing_; }
    QWidget* content() const { return content_; }

private:
    QToolButton* toggle_;
    QLabel* icon_;
    QLabel* trailing_;
    QWidget* content_;
};

}  // namespace quillbridge
