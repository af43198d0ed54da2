// The MPEG-4 audio file an export writes: one AAC stream, packets in order. A file that is not
// finished, or whose set-up fails, is removed again.
#pragma once

#include <QString>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace Media {

class Muxer {
public:
    // Throws MediaError. `rate` is the time base of the packets handed to write().
    Muxer(const QString& path, const AVCodecContext* encoder, int rate);
    ~Muxer();
    Muxer(const Muxer&) = delete;
    Muxer& operator=(const Muxer&) = delete;

    void write(AVPacket* packet);
    void finish();

private:
    struct OutputCloser {
        void operator()(AVFormatContext* context) const;
    };

    QString path_;
    int rate_;
    std::unique_ptr<AVFormatContext, OutputCloser> context_;
    AVStream* stream_ = nullptr;
    bool isFinished_ = false;
};

} // namespace Media
