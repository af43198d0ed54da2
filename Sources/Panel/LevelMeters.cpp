#include "LevelMeters.h"

#include "CaptureWriter.h"
#include "PanelStyle.h"

#include <QGridLayout>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <cmath>

LevelMeters::LevelMeters(std::function<std::shared_ptr<CaptureLevels>()> levels, QWidget* parent)
    : QWidget(parent), levels_(std::move(levels)), timer_(new QTimer(this)) {
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setVerticalSpacing(2);
    const auto addMeter = [&](int row, const QString& caption, const QString& name) {
        auto* meter = new QProgressBar;
        meter->setRange(int(kFloorDb), 0);
        meter->setValue(int(kFloorDb));
        meter->setTextVisible(false);
        meter->setFixedHeight(6);
        meter->setAccessibleName(name);
        grid->addWidget(PanelStyle::captionLabel(caption, PanelStyle::Tone::secondary), row, 0);
        grid->addWidget(meter, row, 1);
        return meter;
    };
    system_ = addMeter(0, QStringLiteral("Компьютер"), QStringLiteral("Уровень: звук компьютера"));
    microphone_ = addMeter(1, QStringLiteral("Микрофон"), QStringLiteral("Уровень: микрофон"));
    grid->setColumnStretch(1, 1);
    timer_->setInterval(100);
    connect(timer_, &QTimer::timeout, this, &LevelMeters::read);
}

// Nothing is read or drawn while nobody can see the meters.
void LevelMeters::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    timer_->start();
}

void LevelMeters::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    timer_->stop();
}

void LevelMeters::read() {
    const std::shared_ptr<CaptureLevels> levels = levels_();
    if (!levels) {
        return;
    }
    const auto show = [](QProgressBar* meter, double db) {
        meter->setValue(int(std::lround(std::clamp(db, kFloorDb, 0.0))));
    };
    show(system_, levels->system.takePeakDb());
    show(microphone_, levels->microphone.takePeakDb());
}
