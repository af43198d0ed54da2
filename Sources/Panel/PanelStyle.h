// The panel's look, shared by its sections: fonts, caption and link labels, dividers, colours.
#pragma once

#include <QColor>
#include <QFont>
#include <QString>

class QFrame;
class QLabel;
class QWidget;

namespace PanelStyle {

QFont headlineFont();
QFont captionFont();
// Of secondary texts: captions, the status.
QColor secondaryColor(const QWidget* widget);
// Of a warning the user must act on.
QColor warningColor();
QLabel* captionLabel(const QString& text, const QColor& color);
QFrame* divider();
// A link that says `text` and reports its activation (linkActivated), for mouse and keyboard.
QLabel* linkLabel(const QString& text);

} // namespace PanelStyle
