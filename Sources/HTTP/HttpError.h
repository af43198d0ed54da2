#pragma once

#include <QString>
#include <stdexcept>

namespace Http {

// A transfer that did not end in an HTTP response. what() is the Russian description; curl's
// own reason, in English, only stands in brackets where no description fits.
class HttpError : public std::runtime_error {
public:
    enum class Kind {
        CannotConnect,
        HostNotFound,
        TimedOut,
        SecureConnectionFailed,
        UnsupportedURL,
        CannotReadFile,
        ConnectionLost,
        ReplyTooLarge,
        Other
    };
    HttpError(Kind kind, const QString& reason);

    Kind kind() const { return kind_; }
    // The request's body went out whole before the transfer failed: the server may have it.
    bool isBodySent() const { return isBodySent_; }
    void setBodySent(bool isSent) { isBodySent_ = isSent; }
    static HttpError fromCurl(int curlCode, const QString& reason);

private:
    Kind kind_;
    bool isBodySent_ = false;
};

} // namespace Http
