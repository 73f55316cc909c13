#include "app/ContentView.hpp"

#include <QLabel>
#include <QVBoxLayout>

namespace quillbridge {

ContentView::ContentView(MacHostApp&, const OpenWindowAction&, QWidget* parent) : QWidget(parent) {
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(16, 16, 16, 16);
    auto* title = new QLabel(QStringLiteral("Quillbridge Host"), this);
    QFont font = title->font();
    font.setWeight(QFont::DemiBold);
    title->setFont(font);
    stack->addWidget(title);
    setMinimumWidth(320);
}

}  // namespace quillbridge
