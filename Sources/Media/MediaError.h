#pragma once

#include <QString>
#include <stdexcept>

namespace Media {

// An error of the media layer. what() is its user-facing description in Russian, with the
// library's own reason in brackets.
class MediaError : public std::runtime_error {
public:
    enum class Kind { CannotOpen, CannotRead, CannotWrite, CannotEncode, Cancelled, Unsupported };
    MediaError(Kind kind, const QString& reason = {});

    Kind kind() const { return kind_; }
    // From an FFmpeg error code (AVERROR).
    static MediaError fromAv(Kind kind, int averror);
    // Throws fromAv for a negative FFmpeg result.
    static void check(int result, Kind kind) {
        if (result < 0) {
            throw fromAv(kind, result);
        }
    }

private:
    Kind kind_;
};

} // namespace Media
