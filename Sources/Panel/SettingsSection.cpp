#include "SettingsSection.h"

#include "Autostart.h"
#include "PanelStyle.h"
#include "Settings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

SettingsSection::SettingsSection(Preferences::Settings& settings, Preferences::Autostart& autostart,
                                 QWidget* parent)
    : QWidget(parent), settings_(settings), autostart_(autostart) {
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(6);
    serverField_ = new QLineEdit(settings_.serverURL());
    serverField_->setPlaceholderText(QStringLiteral("https://…"));
    serverField_->setAccessibleName(QStringLiteral("Адрес сервера"));
    keyField_ = new QLineEdit(settings_.apiKey());
    keyField_->setEchoMode(QLineEdit::Password);
    keyField_->setPlaceholderText(QStringLiteral("vl_…"));
    keyField_->setAccessibleName(QStringLiteral("Ключ API"));
    keyWarning_ =
        PanelStyle::captionLabel(QStringLiteral("Без ключа записи некуда отправлять."), PanelStyle::Tone::warning);
    callChoice_ = new QComboBox;
    callChoice_->addItems({QStringLiteral("Ничего не делать"), QStringLiteral("Предлагать запись"),
                           QStringLiteral("Записывать сам")});
    callChoice_->setAccessibleName(QStringLiteral("Когда начинается звонок"));
    callChoice_->setCurrentIndex(int(settings_.callAction()));
    autostartBox_ = new QCheckBox(QStringLiteral("Запускать при входе в систему"));
    autostartFailure_ = PanelStyle::captionLabel(QString(), PanelStyle::Tone::warning);
    autostartFailure_->setWordWrap(true);
    autostartFailure_->hide();
    stack->addWidget(PanelStyle::captionLabel(QStringLiteral("Адрес сервера"), PanelStyle::Tone::secondary));
    stack->addWidget(serverField_);
    stack->addWidget(PanelStyle::captionLabel(QStringLiteral("Ключ API (Настройки → скопировать ключ)"),
                                              PanelStyle::Tone::secondary));
    stack->addWidget(keyField_);
    stack->addWidget(keyWarning_);
    stack->addWidget(
        PanelStyle::captionLabel(QStringLiteral("Когда начинается звонок"), PanelStyle::Tone::secondary));
    stack->addWidget(callChoice_);
    stack->addWidget(autostartBox_);
    stack->addWidget(autostartFailure_);

    connect(serverField_, &QLineEdit::textEdited, this, [this](const QString& text) {
        settings_.setServerURL(text);
        emit edited();
    });
    connect(keyField_, &QLineEdit::textEdited, this, [this](const QString& text) {
        settings_.setApiKey(text);
        refresh();
        emit edited();
    });
    connect(callChoice_, &QComboBox::currentIndexChanged, this, &SettingsSection::setCallAction);
    // Toggled, not clicked: assistive technology toggles a check box without a click.
    connect(autostartBox_, &QCheckBox::toggled, this, &SettingsSection::setAutostart);
    refresh();
}

void SettingsSection::refresh() {
    keyWarning_->setVisible(settings_.apiKey().isEmpty());
}

void SettingsSection::readAutostart() {
    const QSignalBlocker quiet(autostartBox_);
    autostartBox_->setChecked(autostart_.isEnabled());
}

void SettingsSection::setAutostart(bool enabled) {
    try {
        autostart_.setEnabled(enabled);
        autostartFailure_->hide();
    } catch (const std::exception& error) {
        autostartFailure_->setText(QStringLiteral("Не удалось изменить автозапуск: ") +
                                   QString::fromUtf8(error.what()));
        autostartFailure_->show();
    }
    // What the session will do, whether or not the change went through.
    readAutostart();
}

void SettingsSection::setCallAction(int index) {
    const auto action = Preferences::CallAction(index);
    if (action == Preferences::CallAction::record && !settings_.hasAgreedToAutoRecord()) {
        QMessageBox ask(QMessageBox::Question, QStringLiteral("Записывать звонки самому?"),
                        QStringLiteral("Велмор начнёт запись сам, как только заметит звонок, и после его конца "
                                       "сам отправит её на сервер. Записывайте разговор только с ведома "
                                       "собеседников: предупредите их в начале встречи."),
                        QMessageBox::NoButton, this);
        QPushButton* agree = ask.addButton(QStringLiteral("Записывать сам"), QMessageBox::AcceptRole);
        ask.addButton(QStringLiteral("Отмена"), QMessageBox::RejectRole);
        ask.exec();
        if (ask.clickedButton() != agree) {
            const QSignalBlocker quiet(callChoice_);
            callChoice_->setCurrentIndex(int(settings_.callAction()));
            return;
        }
        settings_.agreeToAutoRecord();
    }
    settings_.setCallAction(action);
}
