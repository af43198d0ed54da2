#include "PanelStyle.h"

#include <QApplication>
#include <QEvent>
#include <QFrame>
#include <QLabel>
#include <algorithm>
#include <cmath>

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

namespace {

// Relative luminance and contrast ratio as the accessibility guidelines define them.
double luminance(const QColor& color) {
    const auto channel = [](double value) {
        return value <= 0.04045 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(color.redF()) + 0.7152 * channel(color.greenF()) + 0.0722 * channel(color.blueF());
}

double contrast(const QColor& a, const QColor& b) {
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

} // namespace

QColor readable(const QColor& color, const QColor& background) {
    const bool isLight = luminance(background) > 0.18;
    QColor adjusted = color.toHsl();
    for (int step = 0; step < 100 && contrast(adjusted, background) < 4.5; ++step) {
        const double lightness = std::clamp(adjusted.lightnessF() + (isLight ? -0.01 : 0.01), 0.0, 1.0);
        adjusted.setHslF(adjusted.hslHueF(), adjusted.hslSaturationF(), lightness);
    }
    return adjusted.toRgb();
}

QColor secondaryColor(const QWidget* widget) {
    return readable(widget->palette().color(QPalette::PlaceholderText), widget->palette().color(QPalette::Window));
}

QColor warningColor(const QWidget* widget) {
    return readable(QColor(0xff, 0x95, 0x00), widget->palette().color(QPalette::Window));
}

namespace {

class CaptionLabel : public QLabel {
public:
    CaptionLabel(const QString& text, Tone tone) : QLabel(text), tone_(tone) {
        setFont(captionFont());
        applyTone();
    }

protected:
    void changeEvent(QEvent* event) override {
        QLabel::changeEvent(event);
        if (event->type() == QEvent::PaletteChange) {
            applyTone();
        }
    }

private:
    void applyTone() {
        const QColor color = tone_ == Tone::warning ? warningColor(this) : secondaryColor(this);
        // Setting the colour is itself a palette change: only a new colour is set.
        if (palette().color(QPalette::WindowText) != color) {
            QPalette own = palette();
            own.setColor(QPalette::WindowText, color);
            setPalette(own);
        }
    }

    Tone tone_;
};

} // namespace

QLabel* captionLabel(const QString& text, Tone tone) {
    return new CaptionLabel(text, tone);
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
