#include "PanelView.h"

#include "Icons.h"
#include "LevelMeters.h"
#include "PanelStyle.h"
#include "Recorder.h"
#include "SettingsSection.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QToolButton>
#include <QVBoxLayout>

using namespace PanelStyle;

PanelView::PanelView(Recorder& recorder, QWidget* parent)
    : QWidget(parent), recorder_(recorder), autostart_(QCoreApplication::applicationFilePath()) {
    setFixedWidth(300);
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(14, 14, 14, 14);
    stack->setSpacing(12);
    addHeader(stack);
    addRecordingControls(stack);
    addSendingControls(stack);
    addFooter(stack);
    connectShortcuts();
    // Re-read after the store that follows the announcement.
    connect(&recorder_, &Recorder::objectWillChange, this, &PanelView::refresh, Qt::QueuedConnection);
    refresh();
}

// The name, the gear, and the settings it opens (always open while there is no key).
void PanelView::addHeader(QBoxLayout* stack) {
    auto* header = new QHBoxLayout;
    auto* name = new QLabel(QStringLiteral("Велмор"));
    name->setFont(headlineFont());
    gearButton_ = new QToolButton;
    gearButton_->setIcon(Tray::symbolIcon(QStringLiteral("gearshape"), secondaryColor(this)));
    gearButton_->setAutoRaise(true);
    gearButton_->setAccessibleName(QStringLiteral("Настройки"));
    header->addWidget(name);
    header->addStretch();
    header->addWidget(gearButton_);
    stack->addLayout(header);
    settingsSection_ = new SettingsSection(settings_, autostart_);
    stack->addWidget(settingsSection_);
    settingsDivider_ = divider();
    stack->addWidget(settingsDivider_);
    connect(gearButton_, &QToolButton::clicked, this, [this] {
        showSettings_ = !showSettings_;
        refresh();
    });
    connect(settingsSection_, &SettingsSection::edited, this, &PanelView::refresh);
}

// The title, the start and stop buttons, the status with the elapsed time, the meters and a
// source's warning.
void PanelView::addRecordingControls(QBoxLayout* stack) {
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
    stopButton_->setStyleSheet(QStringLiteral(
        "QPushButton { background-color: #d93025; color: white; border-radius: 6px; padding: 6px }"));
    stack->addLayout(mainRow);

    auto* statusRow = new QHBoxLayout;
    recordingDot_ = new QWidget;
    recordingDot_->setFixedSize(8, 8);
    recordingDot_->setStyleSheet(QStringLiteral("background-color: #e0302a; border-radius: 4px;"));
    elapsedLabel_ = new QLabel;
    elapsedLabel_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    statusLabel_ = captionLabel(QString(), Tone::secondary);
    statusLabel_->setWordWrap(true);
    // A server's error text is shown as it came, "<b>" and "&lt;" included.
    statusLabel_->setTextFormat(Qt::PlainText);
    statusLabel_->setMaximumHeight(QFontMetrics(captionFont()).lineSpacing() * 3);
    statusLabel_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    statusRow->addWidget(recordingDot_);
    statusRow->addWidget(elapsedLabel_);
    statusRow->addWidget(statusLabel_, 1);
    stack->addLayout(statusRow);
    retryNote_ = captionLabel(QString(), Tone::secondary);
    stack->addWidget(retryNote_);

    meters_ = new LevelMeters([this] { return recorder_.levels(); });
    stack->addWidget(meters_);
    sourceWarning_ = captionLabel(QString(), Tone::warning);
    sourceWarning_->setWordWrap(true);
    stack->addWidget(sourceWarning_);

    connect(titleField_, &QLineEdit::textEdited, this, [this](const QString& text) { recorder_.title = text; });
    // Nothing awaits the tasks; the workflows themselves catch every failure.
    connect(startButton_, &QPushButton::clicked, this, [this] { recorder_.start(); });
    connect(stopButton_, &QPushButton::clicked, this,
            [this] { recorder_.stopAndSend(settings_.serverURL(), settings_.apiKey()); });
}

// The send's progress, the link to the meeting, and the saved recordings' send and its cancel:
// the tray menu offers the same two, and without a tray this is the only place for them.
void PanelView::addSendingControls(QBoxLayout* stack) {
    sendBar_ = new QProgressBar;
    sendBar_->setRange(0, 100);
    sendBar_->setAccessibleName(QStringLiteral("Отправка"));
    sendBar_->setFont(captionFont());
    stack->addWidget(sendBar_);
    meetingLink_ = linkLabel(QStringLiteral("Открыть встречу в Велмор"));
    stack->addWidget(meetingLink_);
    unusableSaved_ = captionLabel(QString(), Tone::warning);
    unusableSaved_->setWordWrap(true);
    stack->addWidget(unusableSaved_);
    auto* savedRow = new QHBoxLayout;
    sendSavedButton_ = new QPushButton;
    cancelSendButton_ = new QPushButton(QStringLiteral("Отменить отправку"));
    savedRow->addWidget(sendSavedButton_);
    savedRow->addWidget(cancelSendButton_);
    savedRow->addStretch();
    stack->addLayout(savedRow);
    stack->addWidget(divider());

    connect(meetingLink_, &QLabel::linkActivated, this, [this] {
        if (recorder_.lastLink()) {
            QDesktopServices::openUrl(*recorder_.lastLink());
        }
    });
    connect(sendSavedButton_, &QPushButton::clicked, this,
            [this] { recorder_.sendSaved(settings_.serverURL(), settings_.apiKey()); });
    connect(cancelSendButton_, &QPushButton::clicked, this, [this] { recorder_.cancelSend(); });
}

void PanelView::addFooter(QBoxLayout* stack) {
    auto* footer = new QHBoxLayout;
    QLabel* footerLink = linkLabel(QStringLiteral("Открыть Велмор"));
    auto* quitButton = new QToolButton;
    quitButton->setText(QStringLiteral("Выйти"));
    quitButton->setAutoRaise(true);
    quitButton->setFont(captionFont());
    QPalette quitPalette = quitButton->palette();
    quitPalette.setColor(QPalette::ButtonText, secondaryColor(this));
    quitButton->setPalette(quitPalette);
    footer->addWidget(footerLink);
    footer->addStretch();
    footer->addWidget(quitButton);
    stack->addLayout(footer);
    connect(footerLink, &QLabel::linkActivated, this,
            [this] { QDesktopServices::openUrl(footerAddress(settings_.serverURL())); });
    connect(quitButton, &QToolButton::clicked, this, &PanelView::quitRequested);
}

// Return works from anywhere in the panel, also while a text field has the focus.
void PanelView::connectShortcuts() {
    for (const int key : {Qt::Key_Return, Qt::Key_Enter}) {
        auto* shortcut = new QShortcut(QKeySequence(key), this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, &PanelView::triggerMainButton);
    }
}

void PanelView::showEvent(QShowEvent* event) {
    settingsSection_->readAutostart();
    QWidget::showEvent(event);
}

QUrl PanelView::footerAddress(const QString& serverURL) {
    const QUrl typed(serverURL, QUrl::StrictMode);
    if (serverURL.isEmpty() || !typed.isValid()) {
        return QUrl(QString::fromUtf8(Preferences::kDefaultServerURL));
    }
    return typed;
}

void PanelView::triggerMainButton() {
    QPushButton* shown = recorder_.isRecording() ? stopButton_ : startButton_;
    if (shown->isEnabled()) {
        shown->click();
    }
}

void PanelView::setCall(const std::optional<QString>& application) {
    call_ = application;
    refresh();
}

void PanelView::refresh() {
    const bool isRecording = recorder_.isRecording();
    const bool settingsShown = showSettings_ || settings_.apiKey().isEmpty();
    settingsSection_->setVisible(settingsShown);
    settingsDivider_->setVisible(settingsShown);
    if (titleField_->text() != recorder_.title()) {
        titleField_->setText(recorder_.title());
    }
    titleField_->setEnabled(!isRecording);
    stopButton_->setVisible(isRecording);
    startButton_->setVisible(!isRecording);
    startButton_->setEnabled(!recorder_.isBusy());
    startButton_->setText(call_ ? QStringLiteral("Записать звонок (%1)").arg(*call_)
                                : QStringLiteral("Начать запись"));
    recordingDot_->setVisible(isRecording);
    elapsedLabel_->setVisible(isRecording);
    elapsedLabel_->setText(recorder_.elapsedText());
    statusLabel_->setText(recorder_.status());
    retryNote_->setText(recorder_.retryNote());
    retryNote_->setVisible(!recorder_.retryNote().isEmpty());
    meters_->setVisible(isRecording);
    sourceWarning_->setText(recorder_.sourceWarning());
    sourceWarning_->setAccessibleName(recorder_.sourceWarning());
    sourceWarning_->setVisible(!recorder_.sourceWarning().isEmpty());
    const std::optional<SendProgress> progress = recorder_.progress();
    sendBar_->setVisible(progress.has_value());
    if (progress) {
        sendBar_->setValue(progress->percent());
        sendBar_->setFormat(progress->text());
    }
    meetingLink_->setVisible(recorder_.lastLink().has_value());
    if (recorder_.lastLink()) {
        meetingLink_->setToolTip(recorder_.lastLink()->toDisplayString(QUrl::RemoveUserInfo));
    }
    sendSavedButton_->setText(QStringLiteral("Отправить сохранённые записи (%1)").arg(recorder_.savedCount()));
    sendSavedButton_->setVisible(recorder_.canSendSaved());
    unusableSaved_->setText(recorder_.unusableSaved());
    unusableSaved_->setVisible(!recorder_.unusableSaved().isEmpty());
    cancelSendButton_->setVisible(recorder_.isSending());
    adjustSize();
    if (window()) {
        window()->adjustSize();
    }
}
