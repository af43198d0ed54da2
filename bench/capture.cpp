// velmor-bench-capture: the capture's benchmark helper.
//   record DIR SECONDS [live]
//                         records system audio and microphone into DIR through the app's capture
//                         service and writer; prints the frames written and the RSS at each 10 s.
//                         With "live", the app's background export follows the files, and the
//                         mixdown that finishes it is timed after the stop.
//   header DIR            the cost of keeping a CAF header up to date after every write
//   clicks A CH B CH      where clicks start in channel CH of file A against file B: the mean
//                         offset of B after A in milliseconds, over the clicks found in both
#include "AudioFile.h"
#include "CaptureWriter.h"
#include "LiveExport.h"
#include "Mixdown.h"
#include "PulseStream.h"

#include "Command.h"

#include <QCoreApplication>
#include <QCoroTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <cmath>
#include <cstdio>
#include <sndfile.h>
#include <stdexcept>

namespace {

long rssKb() {
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) {
            return line.mid(6).trimmed().split(' ').front().toLong();
        }
    }
    return 0;
}

QCoro::Task<int> record(QString dir, int seconds, bool isLive) {
    const std::shared_ptr<Recording> work = Bench::recording(dir);
    if (isLive) {
        work->followWorkFiles();
    }
    const std::shared_ptr<Media::LiveExport> live = work->liveExport();
    Dispatch::SerialQueue queue(QStringLiteral(VELMOR_APP_ID ".capture"));
    auto writer = std::make_shared<CaptureWriter>(std::shared_ptr<const WorkDirectory>(work, &work->directory()));
    Capture::PulseStream stream(Capture::StreamConfiguration{48000, 2}, writer);
    stream.addStreamOutput(writer, Capture::OutputType::Audio, queue);
    stream.addStreamOutput(writer, Capture::OutputType::Microphone, queue);
    co_await stream.startCapture();
    for (int elapsed = 0; elapsed < seconds; elapsed += 10) {
        QTimer timer;
        timer.setSingleShot(true);
        timer.start(std::min(10, seconds - elapsed) * 1000);
        co_await timer;
        std::printf("rss_kb_at_%ds=%ld\n", std::min(elapsed + 10, seconds), rssKb());
    }
    co_await stream.stopCapture();
    qint64 systemFrames = 0;
    qint64 micFrames = 0;
    queue.sync([&] {
        systemFrames = writer->systemFile ? writer->systemFile->framesWritten() : 0;
        micFrames = writer->micFile ? writer->micFile->framesWritten() : 0;
        writer->systemFile.reset();
        writer->micFile.reset();
    });
    std::printf("system_frames=%lld mic_frames=%lld\n", systemFrames, micFrames);
    if (live) {
        const qint64 behind = std::max(systemFrames, micFrames) - live->position();
        QElapsedTimer timer;
        timer.start();
        const std::shared_ptr<std::atomic<bool>> neverCancelled;
        QCoro::Task<QString> mixing = mixToSend(work, neverCancelled);
        co_await mixing;
        std::printf("stop_s=%.2f behind_s=%.1f\n", double(timer.elapsed()) / 1000, double(behind) / 48000);
    }
    co_return 0;
}

// 60 s of 50 ms buffers, written with and without the header brought up to date each time.
int headerCost(const QString& dir) {
    const Media::PcmFormat format{48000, 2, Media::PcmFormat::SampleType::Float32};
    std::vector<float> buffer(2 * 2400, 0.25f);
    for (const bool update : {false, true}) {
        const QString path = QDir(dir).filePath(update ? "updated.caf" : "plain.caf");
        QElapsedTimer timer;
        timer.start();
        {
            Media::AudioFile file(path, format);
            if (!update) {
                // AudioFile always updates; undo it to compare with a plain writer.
                SF_INFO info{};
                SNDFILE* raw = sf_open(QFile::encodeName(path + ".raw").constData(), SFM_WRITE,
                                       &(info = {0, 48000, 2, SF_FORMAT_CAF | SF_FORMAT_FLOAT, 0, 0}));
                for (int i = 0; i < 1200; ++i) {
                    sf_writef_float(raw, buffer.data(), 2400);
                }
                sf_close(raw);
            } else {
                for (int i = 0; i < 1200; ++i) {
                    file.write(format, buffer.data(), 2400);
                }
            }
        }
        std::printf("%s: %.1f ms for 60 s of audio in 1200 writes\n",
                    update ? "our work file (little-endian, header brought up to date every second)"
                           : "libsndfile's defaults (big-endian, PEAK chunk, header only at close)",
                    double(timer.nsecsElapsed()) / 1e6);
    }
    return 0;
}

// The first frame of each click (a jump past 0.3 after a quiet stretch) in one channel.
std::vector<qint64> clickStarts(const QString& path, int channel, int& rate) {
    SF_INFO info{};
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    if (!file || channel >= info.channels) {
        throw std::runtime_error("cannot read " + path.toStdString());
    }
    rate = info.samplerate;
    std::vector<float> frames(std::size_t(info.frames * info.channels));
    sf_readf_float(file, frames.data(), info.frames);
    sf_close(file);
    std::vector<qint64> starts;
    for (qint64 i = 0; i < info.frames; ++i) {
        if (std::fabs(frames[std::size_t(i * info.channels + channel)]) > 0.3f &&
            (starts.empty() || i - starts.back() > rate / 10)) {
            starts.push_back(i);
        }
    }
    return starts;
}

int clicks(const QString& a, int channelA, const QString& b, int channelB) {
    int rateA = 0;
    int rateB = 0;
    const std::vector<qint64> inA = clickStarts(a, channelA, rateA);
    const std::vector<qint64> inB = clickStarts(b, channelB, rateB);
    const std::size_t count = std::min(inA.size(), inB.size());
    if (count == 0 || inA.size() != inB.size()) {
        std::fprintf(stderr, "clicks: %zu in A, %zu in B\n", inA.size(), inB.size());
        return 1;
    }
    double sum = 0;
    for (std::size_t k = 0; k < count; ++k) {
        sum += double(inB[k]) / rateB - double(inA[k]) / rateA;
    }
    std::printf("%.3f\n", 1000 * sum / double(count));
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    return Bench::dispatch(
        argc, argv,
        {{"record",
          {2, 3,
           [](const QStringList& a) {
               return QCoro::waitFor(record(a[0], a[1].toInt(), a.value(2) == QLatin1String("live")));
           }}},
         {"clicks", {4, 4, [](const QStringList& a) { return clicks(a[0], a[1].toInt(), a[2], a[3].toInt()); }}},
         {"header", {1, 1, [](const QStringList& a) { return headerCost(a[0]); }}}},
        "record DIR SECONDS [live] | header DIR | clicks A CH B CH");
}
