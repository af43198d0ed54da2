#pragma once

#include <QString>
#include <stdexcept>

namespace Capture {

// An error of the capture service. what() is its user-facing description in Russian, with the
// audio server's own reason in brackets.
class CaptureError : public std::runtime_error {
public:
    enum class Kind { ConnectionRefused, ConnectionTerminated, NoSuchDevice, TimedOut, AccessDenied, Other };
    CaptureError(Kind kind, const QString& reason = {});

    Kind kind() const { return kind_; }

    // From a PulseAudio error number (pa_context_errno).
    static CaptureError fromPulse(int pulseError);

private:
    Kind kind_;
};

} // namespace Capture
