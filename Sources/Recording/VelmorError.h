// The program's own error: one finished Russian sentence for the user, and nothing else.
#pragma once

#include <QString>
#include <stdexcept>

class VelmorError : public std::runtime_error {
public:
    // Whom the same failure awaits: this send only; every send of this recording (nothing in it
    // can be sent); or every send with these settings (no key, a refused key, an address that
    // cannot be used), at which a batch of sends stops.
    enum class Scope { thisSend, thisRecording, everySend };

    explicit VelmorError(const QString& message, Scope scope = Scope::thisSend)
        : std::runtime_error(message.toStdString()), message_(message), scope_(scope) {}

    // A failure that passes (the server busy or restarting): the server did not take the
    // recording, and the same send may go through later, after `retryAfterSeconds` if it said so.
    static VelmorError passing(const QString& message, int retryAfterSeconds) {
        VelmorError error(message);
        error.isPassing_ = true;
        error.retryAfterSeconds_ = retryAfterSeconds;
        return error;
    }
    bool isPassing() const { return isPassing_; }
    int retryAfterSeconds() const { return retryAfterSeconds_; }

    const QString& message() const { return message_; }
    Scope scope() const { return scope_; }
    // What the user sees: the message itself, also when it is empty.
    QString errorDescription() const { return message_; }

private:
    QString message_;
    Scope scope_;
    bool isPassing_ = false;
    int retryAfterSeconds_ = 0;
};
