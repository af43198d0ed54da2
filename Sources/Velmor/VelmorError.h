// The program's own error: one finished Russian sentence for the user, and nothing else.
#pragma once

#include <QString>
#include <stdexcept>

class VelmorError : public std::runtime_error {
public:
    explicit VelmorError(const QString& message) : std::runtime_error(message.toStdString()), message_(message) {}

    const QString& message() const { return message_; }
    // What the user sees: the message itself, also when it is empty.
    QString errorDescription() const { return message_; }

private:
    QString message_;
};
