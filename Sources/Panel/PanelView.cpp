#include "PanelView.h"

#include "Icons.h"
#include "Recorder.h"

#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QFontDatabase>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QSignalBlocker>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <cmath>

namespace {

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

QString accent(const QString& widgetName, const QString& css) {
    return widgetName + QStringLiteral(" { ") + css + " }";
}

QString megabytes(qint64 bytes) {
    return QLocale(QLocale::Russian).toString(double(bytes) / 1e6, 'f', 1);
}

} // namespace

QString PanelView::progressText(const SendProgress& progress) {
    QString text = progress.isMixing ? QStringLiteral("%1%").arg(progress.percent())
                                     : QStringLiteral("%1% · %2 из %3 МБ")
                                           .arg(progress.percent())
                                           .arg(megabytes(progress.done), megabytes(progress.total));
    if (progress.secondsLeft >= 0) {
        text += QStringLiteral(" · осталось ") + Recorder::formatElapsed(progress.secondsLeft);
    }
    return text;
}

PanelView::PanelView(Recorder* recorder, QWidget* parent)
    : QWidget(parent), recorder_(recorder), autostart_(QCoreApplication::applicationFilePath()) {
    build();
    // Re-read after the store that follows the announcement.
    connect(recorder, &Recorder::objectWillChange, this, &PanelView::refresh, Qt::QueuedConnection);
    refresh();
}

void PanelView::build() {
    setFixedWidth(300);
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(14, 14, 14, 14);
    stack->setSpacing(12);
    const QColor secondary = secondaryColor(this);

    auto* header = new QHBoxLayout;
    auto* name = new QLabel(QStringLiteral("Велмор"));
    name->setFont(headlineFont());
    gearButton_ = new QToolButton;
    gearButton_->setIcon(Tray::symbolIcon(QStringLiteral("gearshape"), secondary));
    gearButton_->setAutoRaise(true);
    gearButton_->setAccessibleName(QStringLiteral("Настройки"));
    header->addWidget(name);
    header->addStretch();
    header->addWidget(gearButton_);
    stack->addLayout(header);

    settingsSection_ = new QWidget;
    auto* settings = new QVBoxLayout(settingsSection_);
    settings->setContentsMargins(0, 0, 0, 0);
    settings->setSpacing(6);
    serverField_ = new QLineEdit(settings_.serverURL());
    serverField_->setPlaceholderText(QStringLiteral("https://…"));
    serverField_->setAccessibleName(QStringLiteral("Адрес сервера"));
    keyField_ = new QLineEdit(settings_.apiKey());
    keyField_->setEchoMode(QLineEdit::Password);
    keyField_->setPlaceholderText(QStringLiteral("vl_…"));
    keyField_->setAccessibleName(QStringLiteral("Ключ API"));
    keyWarning_ = captionLabel(QStringLiteral("Без ключа записи некуда отправлять."), QColor(0xff, 0x95, 0x00));
    settings->addWidget(captionLabel(QStringLiteral("Адрес сервера"), secondary));
    settings->addWidget(serverField_);
    settings->addWidget(captionLabel(QStringLiteral("Ключ API (Настройки → скопировать ключ)"), secondary));
    settings->addWidget(keyField_);
    settings->addWidget(keyWarning_);
    autostartBox_ = new QCheckBox(QStringLiteral("Запускать при входе в систему"));
    settings->addWidget(autostartBox_);
    stack->addWidget(settingsSection_);
    settingsDivider_ = divider();
    stack->addWidget(settingsDivider_);

    titleField_ = new QLineEdit;
    titleField_->setPlaceholderText(QStringLiteral("Название встречи (необязательно)"));
    titleField_->setAccessibleName(QStringLiteral("Название встречи"));
    titleField_->setMaxLength(Recorder::kTitleLimit);
    stack->addWidget(titleField_);

    auto* mainRow = new QHBoxLayout;
    mainRow->setSpacing(10);
    startButton_ =
        new QPushButton(Tray::symbolIcon(QStringLiteral("record.circle"), palette().color(QPalette::ButtonText)),
                        QStringLiteral("Начать запись"));
    stopButton_ = new QPushButton(Tray::symbolIcon(QStringLiteral("stop.circle.fill"), QColor(Qt::white)),
                                  QStringLiteral("Остановить и отправить"));
    for (QPushButton* button : {startButton_, stopButton_}) {
        button->setMinimumHeight(34);
        button->setIconSize(QSize(18, 18));
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        mainRow->addWidget(button);
    }
    // The destructive look: white on red.
    stopButton_->setStyleSheet(
        accent(QStringLiteral("QPushButton"),
               QStringLiteral("background-color: #d93025; color: white; border-radius: 6px; padding: 6px")));
    stack->addLayout(mainRow);

    auto* statusRow = new QHBoxLayout;
    recordingDot_ = new QWidget;
    recordingDot_->setFixedSize(8, 8);
    recordingDot_->setStyleSheet(QStringLiteral("background-color: #e0302a; border-radius: 4px;"));
    elapsedLabel_ = new QLabel;
    elapsedLabel_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    statusLabel_ = captionLabel(QString(), secondary);
    statusLabel_->setWordWrap(true);
    // A server's error text is shown as it came, "<b>" and "&lt;" included.
    statusLabel_->setTextFormat(Qt::PlainText);
    statusLabel_->setMaximumHeight(QFontMetrics(captionFont()).lineSpacing() * 3);
    statusLabel_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    statusRow->addWidget(recordingDot_);
    statusRow->addWidget(elapsedLabel_);
    statusRow->addWidget(statusLabel_, 1);
    stack->addLayout(statusRow);

    // What each source sounds like while recording: its loudest sample of the last tenth of a
    // second, from -60 dBFS to full scale.
    metersSection_ = new QWidget;
    auto* meters = new QGridLayout(metersSection_);
    meters->setContentsMargins(0, 0, 0, 0);
    meters->setVerticalSpacing(2);
    const auto addMeter = [&](int row, const QString& caption, const QString& name) {
        auto* meter = new QProgressBar;
        meter->setRange(int(kMeterFloorDb), 0);
        meter->setValue(int(kMeterFloorDb));
        meter->setTextVisible(false);
        meter->setFixedHeight(6);
        meter->setAccessibleName(name);
        meters->addWidget(captionLabel(caption, secondary), row, 0);
        meters->addWidget(meter, row, 1);
        return meter;
    };
    systemMeter_ = addMeter(0, QStringLiteral("Компьютер"), QStringLiteral("Уровень: звук компьютера"));
    micMeter_ = addMeter(1, QStringLiteral("Микрофон"), QStringLiteral("Уровень: микрофон"));
    meters->setColumnStretch(1, 1);
    stack->addWidget(metersSection_);
    sourceWarning_ = captionLabel(QString(), QColor(0xff, 0x95, 0x00));
    sourceWarning_->setWordWrap(true);
    stack->addWidget(sourceWarning_);
    sendBar_ = new QProgressBar;
    sendBar_->setRange(0, 100);
    sendBar_->setAccessibleName(QStringLiteral("Отправка"));
    sendBar_->setFont(captionFont());
    stack->addWidget(sendBar_);
    meterTimer_ = new QTimer(this);
    meterTimer_->setInterval(100);
    connect(meterTimer_, &QTimer::timeout, this, &PanelView::readMeters);

    meetingLink_ = linkLabel(QStringLiteral("Открыть встречу в Велмор"));
    stack->addWidget(meetingLink_);
    // The tray menu offers the same two; without a tray this is the only place for them.
    auto* savedRow = new QHBoxLayout;
    sendSavedButton_ = new QPushButton;
    cancelSendButton_ = new QPushButton(QStringLiteral("Отменить отправку"));
    savedRow->addWidget(sendSavedButton_);
    savedRow->addWidget(cancelSendButton_);
    savedRow->addStretch();
    stack->addLayout(savedRow);
    stack->addWidget(divider());

    auto* footer = new QHBoxLayout;
    footerLink_ = linkLabel(QStringLiteral("Открыть Велмор"));
    quitButton_ = new QToolButton;
    quitButton_->setText(QStringLiteral("Выйти"));
    quitButton_->setAutoRaise(true);
    quitButton_->setFont(captionFont());
    QPalette quitPalette = quitButton_->palette();
    quitPalette.setColor(QPalette::ButtonText, secondary);
    quitButton_->setPalette(quitPalette);
    footer->addWidget(footerLink_);
    footer->addStretch();
    footer->addWidget(quitButton_);
    stack->addLayout(footer);

    connect(gearButton_, &QToolButton::clicked, this, [this] {
        showSettings_ = !showSettings_;
        refresh();
    });
    connect(serverField_, &QLineEdit::textEdited, this, [this](const QString& text) {
        settings_.setServerURL(text);
        refresh();
    });
    connect(keyField_, &QLineEdit::textEdited, this, [this](const QString& text) {
        settings_.setApiKey(text);
        refresh();
    });
    // Toggled, not clicked: assistive technology toggles a check box without a click.
    connect(autostartBox_, &QCheckBox::toggled, this, [this](bool checked) {
        try {
            autostart_.setEnabled(checked);
        } catch (const std::exception& error) {
            qWarning("%s", error.what());
        }
        // What the session will do, whether or not the change went through.
        const QSignalBlocker quiet(autostartBox_);
        autostartBox_->setChecked(autostart_.isEnabled());
    });
    connect(titleField_, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (recorder_) {
            recorder_->title = text;
        }
    });
    connect(startButton_, &QPushButton::clicked, this, &PanelView::startRecording);
    connect(stopButton_, &QPushButton::clicked, this, &PanelView::stopAndSend);
    connect(meetingLink_, &QLabel::linkActivated, this, [this] {
        if (recorder_ && recorder_->lastLink()) {
            QDesktopServices::openUrl(*recorder_->lastLink());
        }
    });
    connect(footerLink_, &QLabel::linkActivated, this,
            [this] { QDesktopServices::openUrl(footerAddress(settings_.serverURL())); });
    connect(sendSavedButton_, &QPushButton::clicked, this, &PanelView::sendSaved);
    connect(cancelSendButton_, &QPushButton::clicked, this, [this] {
        if (recorder_) {
            recorder_->cancelSend();
        }
    });
    connect(quitButton_, &QToolButton::clicked, this, &PanelView::quitRequested);
    // Return works from anywhere in the panel, also while a text field has the focus.
    for (const int key : {Qt::Key_Return, Qt::Key_Enter}) {
        auto* shortcut = new QShortcut(QKeySequence(key), this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, &PanelView::triggerMainButton);
    }
}

void PanelView::followMeters() {
    // Nothing is read or drawn for the meters while nobody can see them.
    const bool shown = recorder_ && recorder_->isRecording() && isVisible();
    if (shown && !meterTimer_->isActive()) {
        meterTimer_->start();
    } else if (!shown) {
        meterTimer_->stop();
    }
}

void PanelView::readMeters() {
    const std::shared_ptr<CaptureLevels> levels = recorder_ ? recorder_->levels() : nullptr;
    if (!levels) {
        return;
    }
    const auto show = [](QProgressBar* meter, double db) {
        meter->setValue(int(std::lround(std::clamp(db, kMeterFloorDb, 0.0))));
    };
    show(systemMeter_, levels->system.takePeakDb());
    show(micMeter_, levels->microphone.takePeakDb());
}

void PanelView::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    followMeters();
}

void PanelView::showEvent(QShowEvent* event) {
    const QSignalBlocker quiet(autostartBox_);
    autostartBox_->setChecked(autostart_.isEnabled());
    QWidget::showEvent(event);
    followMeters();
}

QUrl PanelView::footerAddress(const QString& serverURL) {
    const QUrl typed(serverURL, QUrl::StrictMode);
    if (serverURL.isEmpty() || !typed.isValid()) {
        return QUrl(QString::fromUtf8(Preferences::kDefaultServerURL));
    }
    return typed;
}

void PanelView::triggerMainButton() {
    if (!recorder_) {
        return;
    }
    QPushButton* shown = recorder_->isRecording() ? stopButton_ : startButton_;
    if (shown->isEnabled()) {
        shown->click();
    }
}

void PanelView::startRecording() {
    if (recorder_) {
        // Nothing awaits the task; the workflow itself catches every failure.
        recorder_->start();
    }
}

void PanelView::stopAndSend() {
    if (recorder_) {
        recorder_->stopAndSend(settings_.serverURL(), settings_.apiKey());
    }
}

void PanelView::sendSaved() {
    if (recorder_) {
        recorder_->sendSaved(settings_.serverURL(), settings_.apiKey());
    }
}

void PanelView::refresh() {
    if (!recorder_) {
        return;
    }
    const QString apiKey = settings_.apiKey();
    const bool isRecording = recorder_->isRecording();
    const bool settingsShown = showSettings_ || apiKey.isEmpty();
    settingsSection_->setVisible(settingsShown);
    settingsDivider_->setVisible(settingsShown);
    keyWarning_->setVisible(apiKey.isEmpty());
    if (titleField_->text() != recorder_->title()) {
        titleField_->setText(recorder_->title());
    }
    titleField_->setEnabled(!isRecording);
    stopButton_->setVisible(isRecording);
    startButton_->setVisible(!isRecording);
    startButton_->setEnabled(!recorder_->isBusy());
    recordingDot_->setVisible(isRecording);
    elapsedLabel_->setVisible(isRecording);
    elapsedLabel_->setText(recorder_->elapsedText());
    statusLabel_->setText(recorder_->status());
    metersSection_->setVisible(isRecording);
    sourceWarning_->setText(recorder_->sourceWarning());
    sourceWarning_->setAccessibleName(recorder_->sourceWarning());
    sourceWarning_->setVisible(!recorder_->sourceWarning().isEmpty());
    followMeters();
    const std::optional<SendProgress> progress = recorder_->progress();
    sendBar_->setVisible(progress.has_value());
    if (progress) {
        sendBar_->setValue(progress->percent());
        sendBar_->setFormat(progressText(*progress));
    }
    meetingLink_->setVisible(recorder_->lastLink().has_value());
    const int saved = recorder_->savedCount();
    sendSavedButton_->setText(QStringLiteral("Отправить сохранённые записи (%1)").arg(saved));
    sendSavedButton_->setVisible(recorder_->canSendSaved());
    cancelSendButton_->setVisible(recorder_->isSending());
    if (recorder_->lastLink()) {
        meetingLink_->setToolTip(recorder_->lastLink()->toDisplayString(QUrl::RemoveUserInfo));
    }
    adjustSize();
    if (window()) {
        window()->adjustSize();
    }
}
