// Packets of a later export segment wait here, in a hidden temporary file beside the output,
// until the segments before them have been written.
#pragma once

#include <QString>
#include <QTemporaryFile>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace Media {

class Muxer;

class Spool {
public:
    // Throws MediaError.
    explicit Spool(const QString& dir);

    void put(const AVPacket* packet);
    // Hands every packet, in order, to the muxer.
    void replayInto(Muxer& muxer);

private:
    struct Header {
        qint64 pts;
        qint64 dts;
        qint64 duration;
        int size;
        int flags;
    };
    QTemporaryFile file_;
};

} // namespace Media
