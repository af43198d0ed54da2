#include "Muxer.h"

#include "MediaError.h"

#include <QFile>

namespace Media {

void Muxer::OutputCloser::operator()(AVFormatContext* context) const {
    if (context->pb) {
        avio_closep(&context->pb);
    }
    avformat_free_context(context);
}

Muxer::Muxer(const QString& path, const AVCodecContext* encoder, int rate) : path_(path), rate_(rate) {
    const QByteArray native = QFile::encodeName(path);
    AVFormatContext* raw = nullptr;
    MediaError::check(avformat_alloc_output_context2(&raw, nullptr, "ipod", native.constData()),
                      MediaError::Kind::CannotWrite);
    context_.reset(raw);
    try {
        stream_ = avformat_new_stream(context_.get(), nullptr);
        if (!stream_) {
            throw MediaError(MediaError::Kind::CannotWrite);
        }
        MediaError::check(avcodec_parameters_from_context(stream_->codecpar, encoder),
                          MediaError::Kind::CannotWrite);
        stream_->time_base = encoder->time_base;
        MediaError::check(avio_open(&context_->pb, native.constData(), AVIO_FLAG_WRITE),
                          MediaError::Kind::CannotWrite);
        MediaError::check(avformat_write_header(context_.get(), nullptr), MediaError::Kind::CannotWrite);
    } catch (...) {
        context_.reset();
        QFile::remove(path_);
        throw;
    }
}

Muxer::~Muxer() {
    context_.reset();
    if (!isFinished_) {
        QFile::remove(path_);
    }
}

void Muxer::write(AVPacket* packet) {
    packet->stream_index = 0;
    av_packet_rescale_ts(packet, AVRational{1, rate_}, stream_->time_base);
    MediaError::check(av_write_frame(context_.get(), packet), MediaError::Kind::CannotWrite);
}

void Muxer::finish() {
    MediaError::check(av_write_trailer(context_.get()), MediaError::Kind::CannotWrite);
    MediaError::check(avio_closep(&context_->pb), MediaError::Kind::CannotWrite);
    isFinished_ = true;
}

} // namespace Media
