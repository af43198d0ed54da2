#include "PanelStyle.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>

namespace PanelStyle {

QFont headlineFont() {
    QFont font = QApplication::font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.15);
    return font;
}

QFont captionFont() {
    QFont font = QApplication::font();
    font.setPointSizeF(font.pointSizeF() * 0.85);
    return font;
}

QColor secondaryColor(const QWidget* widget) {
    return widget->palette().color(QPalette::PlaceholderText);
}

QColor warningColor() {
    return QColor(0xff, 0x95, 0x00);
}

QLabel* captionLabel(const QString& text, const QColor& color) {
    auto* label = new QLabel(text);
    label->setFont(captionFont());
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
    return label;
}

QFrame* divider() {
    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

QLabel* linkLabel(const QString& text) {
    auto* label = new QLabel;
    label->setFont(captionFont());
    label->setTextFormat(Qt::RichText);
    label->setText(QStringLiteral("<a href=\"#\">") + text.toHtmlEscaped() + QStringLiteral("</a>"));
    label->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    label->setAccessibleName(text);
    return label;
}

} // namespace PanelStyle
