#include "Spool.h"

#include "AvHandles.h"
#include "MediaError.h"
#include "Muxer.h"

#include <QDir>

namespace Media {

Spool::Spool(const QString& dir) : file_(QDir(dir).filePath(QStringLiteral(".velmor-spool-XXXXXX"))) {
    if (!file_.open()) {
        throw MediaError(MediaError::Kind::CannotWrite, file_.errorString());
    }
}

void Spool::put(const AVPacket* packet) {
    const Header header{packet->pts, packet->dts, packet->duration, packet->size, packet->flags};
    if (file_.write(reinterpret_cast<const char*>(&header), sizeof header) != qint64(sizeof header) ||
        file_.write(reinterpret_cast<const char*>(packet->data), packet->size) != packet->size) {
        throw MediaError(MediaError::Kind::CannotWrite, file_.errorString());
    }
}

void Spool::replayInto(Muxer& muxer) {
    file_.flush();
    file_.seek(0);
    av::Packet packet(av_packet_alloc());
    Header header{};
    while (file_.read(reinterpret_cast<char*>(&header), sizeof header) == qint64(sizeof header)) {
        MediaError::check(av_new_packet(packet.get(), header.size), MediaError::Kind::CannotWrite);
        if (file_.read(reinterpret_cast<char*>(packet->data), header.size) != header.size) {
            throw MediaError(MediaError::Kind::CannotRead, file_.errorString());
        }
        packet->pts = header.pts;
        packet->dts = header.dts;
        packet->duration = header.duration;
        packet->flags = header.flags;
        muxer.write(packet.get());
        av_packet_unref(packet.get());
    }
}

} // namespace Media
