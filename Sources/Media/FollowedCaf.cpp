#include "FollowedCaf.h"

#include "MediaError.h"

#include <QFile>
#include <QtEndian>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace Media {

namespace {

constexpr qint64 kHeaderLimit = 64 * 1024;
constexpr int kIoBufferSize = 64 * 1024;
// How often a read at the edge looks at the header again; the writer updates it every second.
constexpr auto kPollInterval = std::chrono::milliseconds(250);

MediaError notReady(const char* what) {
    return MediaError(MediaError::Kind::CannotRead, QString::fromLatin1(what));
}

qint64 bigEndian64(const uint8_t* bytes) {
    return qint64(qFromBigEndian<quint64>(bytes));
}

} // namespace

FollowedCaf::FollowedCaf(const QString& path, FollowEdge& edge) : edge_(edge) {
    fd_ = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) {
        throw MediaError(MediaError::Kind::CannotOpen);
    }
    std::vector<uint8_t> header(kHeaderLimit);
    const ssize_t length = ::pread(fd_, header.data(), header.size(), 0);
    if (length < 8 || std::memcmp(header.data(), "caff", 4) != 0) {
        ::close(fd_);
        throw notReady("no CAF header");
    }
    // Chunks follow the file header: a four-letter type and a 64-bit length, both big-endian.
    for (qint64 chunk = 8; chunk + 12 <= length;) {
        const uint8_t* at = header.data() + chunk;
        const qint64 size = bigEndian64(at + 4);
        if (std::memcmp(at, "desc", 4) == 0 && chunk + 12 + 32 <= length) {
            const uint8_t* desc = at + 12;
            sampleRate_ = qFromBigEndian<double>(desc);
            const bool isLinear = std::memcmp(desc + 8, "lpcm", 4) == 0;
            bytesPerFrame_ = qFromBigEndian<quint32>(desc + 16);
            if (!isLinear || qFromBigEndian<quint32>(desc + 20) != 1) {
                bytesPerFrame_ = 0;
            }
        } else if (std::memcmp(at, "data", 4) == 0) {
            sizeField_ = chunk + 4;
            dataStart_ = chunk + 12 + 4; // after the edit count
            break;
        }
        if (size < 0) {
            break;
        }
        chunk += 12 + size;
    }
    if (dataStart_ == 0 || bytesPerFrame_ <= 0 || !(sampleRate_ > 0)) {
        ::close(fd_);
        throw notReady("CAF header incomplete");
    }
}

FollowedCaf::~FollowedCaf() {
    if (io_) {
        av_freep(&io_->buffer);
        avio_context_free(&io_);
    }
    ::close(fd_);
}

qint64 FollowedCaf::durableBytes() {
    // The writer rewrites the header while this reads it: a length is taken only when two reads
    // agree, never beyond what the file holds, and never smaller than one taken before.
    uint8_t first[8];
    uint8_t second[8];
    struct stat status = {};
    if (::pread(fd_, first, sizeof first, sizeField_) == qint64(sizeof first) &&
        ::pread(fd_, second, sizeof second, sizeField_) == qint64(sizeof second) &&
        std::memcmp(first, second, sizeof first) == 0 && ::fstat(fd_, &status) == 0) {
        const qint64 counted = std::min(bigEndian64(first) - 4, qint64(status.st_size) - dataStart_);
        durable_ = std::max(durable_, counted / bytesPerFrame_ * bytesPerFrame_);
    }
    return durable_;
}

qint64 FollowedCaf::durableFrames() {
    return durableBytes() / bytesPerFrame_;
}

av::Input FollowedCaf::openInput() {
    auto* buffer = static_cast<uint8_t*>(av_malloc(kIoBufferSize));
    // Seekable: the demuxer skips the header's other chunks only on a seekable input.
    io_ =
        avio_alloc_context(buffer, kIoBufferSize, 0, this, &FollowedCaf::readPacket, nullptr, &FollowedCaf::seek);
    if (!io_) {
        av_free(buffer);
        throw MediaError(MediaError::Kind::CannotRead);
    }
    av_log_set_level(AV_LOG_QUIET);
    AVFormatContext* raw = avformat_alloc_context();
    raw->pb = io_;
    // Nothing seeks in it: an index of every packet would only grow with the recording.
    raw->max_index_size = 64 * 1024;
    // Stream information comes from the header alone: reading ahead for it would wait on the edge.
    const int result = avformat_open_input(&raw, nullptr, av_find_input_format("caf"), nullptr);
    if (result < 0) {
        throw MediaError::fromAv(MediaError::Kind::CannotRead, result);
    }
    return av::Input(raw);
}

int FollowedCaf::readPacket(void* opaque, uint8_t* buffer, int size) {
    return static_cast<FollowedCaf*>(opaque)->read(buffer, size);
}

int64_t FollowedCaf::seek(void* opaque, int64_t offset, int whence) {
    auto* self = static_cast<FollowedCaf*>(opaque);
    switch (whence & ~AVSEEK_FORCE) {
    case SEEK_SET:
        return self->position_ = offset;
    case SEEK_CUR:
        return self->position_ += offset;
    default: // the end, and so the size, is not known yet
        return AVERROR(ENOSYS);
    }
}

int FollowedCaf::read(uint8_t* buffer, int size) {
    qint64 end = 0;
    if (position_ < dataStart_) {
        end = dataStart_;
    } else {
        std::unique_lock lock(edge_.mutex);
        for (;;) {
            // Whatever the header counts after the writer closed the file is its final length.
            const bool isComplete = edge_.isComplete;
            end = dataStart_ + durableBytes();
            if (edge_.isAbandoned) {
                return AVERROR_EXIT;
            }
            if (position_ < end) {
                break;
            }
            if (isComplete) {
                return AVERROR_EOF;
            }
            edge_.changed.wait_for(lock, kPollInterval);
        }
    }
    const qint64 count = std::min<qint64>(size, end - position_);
    const ssize_t done = ::pread(fd_, buffer, std::size_t(count), position_);
    if (done < 0) {
        return AVERROR(errno);
    }
    if (done == 0) {
        return AVERROR_EOF; // the file was cut short after the header counted it
    }
    // The data chunk's length shows as unknown (all ones), which tells the demuxer to read to the end.
    for (qint64 byte = std::max(position_, sizeField_); byte < std::min(position_ + done, sizeField_ + 8);
         ++byte) {
        buffer[byte - position_] = 0xff;
    }
    position_ += done;
    return int(done);
}

} // namespace Media
