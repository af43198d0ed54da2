// Two meters, the computer's sound and the microphone: each source's loudest sample of the last
// tenth of a second, from -60 dBFS to full scale. They read the levels only while they are shown.
#pragma once

#include <QWidget>

#include <functional>
#include <memory>

class QProgressBar;
class QTimer;
struct CaptureLevels;

class LevelMeters : public QWidget {
    Q_OBJECT

public:
    // `levels` gives the recording's levels; null while none is made.
    explicit LevelMeters(std::function<std::shared_ptr<CaptureLevels>()> levels, QWidget* parent = nullptr);

    // The lowest reading, in dBFS.
    static constexpr double kFloorDb = -60;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void read();

    std::function<std::shared_ptr<CaptureLevels>()> levels_;
    QProgressBar* system_ = nullptr;
    QProgressBar* microphone_ = nullptr;
    QTimer* timer_ = nullptr;
};
