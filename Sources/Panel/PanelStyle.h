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
// Of a warning the user must act on: amber, as dark or as light as the background needs.
QColor warningColor(const QWidget* widget);
// `color`, made darker on a light background or lighter on a dark one until it stands 4.5:1
// against `background`, as small text needs; its hue is kept.
QColor readable(const QColor& color, const QColor& background);
// A caption's colour, worked out against the background the label is on, and again whenever
// the palette changes (a desktop switching to its dark scheme).
enum class Tone { secondary, warning };
QLabel* captionLabel(const QString& text, Tone tone);
QFrame* divider();
// A link that says `text` and reports its activation (linkActivated), for mouse and keyboard.
QLabel* linkLabel(const QString& text);

} // namespace PanelStyle
