#include "AudioFile.h"

#include "MediaError.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Media {

namespace {

int subtypeOf(PcmFormat::SampleType type) {
    switch (type) {
    case PcmFormat::SampleType::Int16:
        return SF_FORMAT_PCM_16;
    case PcmFormat::SampleType::Int32:
        return SF_FORMAT_PCM_32;
    case PcmFormat::SampleType::Float32:
        return SF_FORMAT_FLOAT;
    case PcmFormat::SampleType::Float64:
        return SF_FORMAT_DOUBLE;
    }
    return SF_FORMAT_FLOAT;
}

// Why the system refused a write, in words a user can act on.
QString writeFailureReason(int error) {
    switch (error) {
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("на диске закончилось место");
    case ENOENT:
    case ESTALE:
        return QStringLiteral("папка записи удалена");
    case EROFS:
        return QStringLiteral("диск доступен только для чтения");
    case EIO:
        return QStringLiteral("ошибка ввода-вывода диска");
    case EACCES:
    case EPERM:
        return QStringLiteral("нет доступа к папке записи");
    default:
        return QStringLiteral("системная ошибка %1").arg(error);
    }
}

} // namespace

AudioFile::AudioFile(const QString& path, const PcmFormat& format) : format_(format) {
    if (format.channelCount <= 0 || format.sampleRate <= 0) {
        throw MediaError(MediaError::Kind::Unsupported);
    }
    SF_INFO info{};
    info.samplerate = int(format.sampleRate);
    info.channels = format.channelCount;
    // Little-endian, as the audio arrives: the default big-endian CAF would swap every sample.
    info.format = SF_FORMAT_CAF | SF_ENDIAN_LITTLE | subtypeOf(format.sampleType);
    const QByteArray native = QFile::encodeName(path);
    fd_ = ::open(native.constData(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, S_IRUSR | S_IWUSR);
    if (fd_ < 0) {
        throw MediaError(MediaError::Kind::CannotWrite, writeFailureReason(errno));
    }
    file_ = sf_open_fd(fd_, SFM_WRITE, &info, SF_TRUE);
    if (!file_) {
        ::close(fd_);
        throw MediaError(MediaError::Kind::CannotWrite, QString::fromUtf8(sf_strerror(nullptr)));
    }
    // No PEAK chunk: scanning every sample for it was most of the writer's cost.
    sf_command(file_, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
    sf_command(file_, SFC_UPDATE_HEADER_NOW, nullptr, 0);
}

AudioFile::~AudioFile() {
    sf_close(file_);
}

void AudioFile::checkStillLinked() const {
    // Removing the work directory does not fail the writes to files already open: they go on into
    // files nobody can reach any more.
    struct stat status = {};
    if (::fstat(fd_, &status) == 0 && status.st_nlink == 0) {
        throw MediaError(MediaError::Kind::CannotWrite, writeFailureReason(ENOENT));
    }
}

sf_count_t AudioFile::writeInterleaved(const void* data, sf_count_t frames) {
    switch (format_.sampleType) {
    case PcmFormat::SampleType::Int16:
        return sf_writef_short(file_, static_cast<const short*>(data), frames);
    case PcmFormat::SampleType::Int32:
        return sf_writef_int(file_, static_cast<const int*>(data), frames);
    case PcmFormat::SampleType::Float32:
        return sf_writef_float(file_, static_cast<const float*>(data), frames);
    case PcmFormat::SampleType::Float64:
        return sf_writef_double(file_, static_cast<const double*>(data), frames);
    }
    return 0;
}

void AudioFile::sync() {
    sf_command(file_, SFC_UPDATE_HEADER_NOW, nullptr, 0);
    framesInHeader_ = framesWritten_;
    ::fsync(fd_);
}

void AudioFile::write(const PcmFormat& format, const void* interleaved, qint64 frames) {
    if (format != format_ || !interleaved) {
        throw MediaError(MediaError::Kind::Unsupported);
    }
    if (frames <= 0) {
        return;
    }
    errno = 0;
    const sf_count_t written = writeInterleaved(interleaved, frames);
    const int writeError = errno;
    framesWritten_ += written;
    if (written != frames) {
        throw MediaError(MediaError::Kind::CannotWrite, writeFailureReason(writeError ? writeError : EIO));
    }
    // The header is brought up to date about once a second rather than after every write (which
    // rewrote it 40 times a second): a file cut off by a crash loses at most its last second.
    if (framesWritten_ - framesInHeader_ >= qint64(format_.sampleRate)) {
        sf_command(file_, SFC_UPDATE_HEADER_NOW, nullptr, 0);
        framesInHeader_ = framesWritten_;
        checkStillLinked();
    }
}

} // namespace Media
