// velmor-bench-stop: the stop's benchmark helper.
//   feed SOURCE DIR SPEED   writes SOURCE/system.caf and SOURCE/mic.caf into DIR as the capture
//                           writer would (50 ms buffers, SPEED times faster than real time) while
//                           the app's background export follows them; then closes the files and
//                           times the app's mixdown from there. Prints stop_s and the live position.
//   compare A.m4a B.m4a     frames, largest sample difference and level of two outputs
#include "AudioFile.h"
#include "LiveExport.h"
#include "Mixdown.h"
#include "TrackReader.h"

#include "Command.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QThread>
#include <cmath>
#include <cstdio>
#include <sndfile.h>

namespace {

constexpr int kRate = 48000;
constexpr qint64 kBuffer = kRate / 20;

struct Source {
    SNDFILE* in = nullptr;
    Media::PcmFormat format{kRate, 2, Media::PcmFormat::SampleType::Float32};
    std::unique_ptr<Media::AudioFile> out;
};

int feed(const QString& source, const QString& dir, double speed) {
    const QStringList names{QStringLiteral("system.caf"), QStringLiteral("mic.caf")};
    QStringList outputs;
    for (const QString& name : names) {
        outputs.append(QDir(dir).filePath(name));
    }
    const std::shared_ptr<Recording> work = Bench::recording(dir);
    work->followWorkFiles();
    const std::shared_ptr<Media::LiveExport> live = work->liveExport();
    std::vector<Source> sources(2);
    for (int k = 0; k < 2; ++k) {
        SF_INFO info{};
        sources[std::size_t(k)].in =
            sf_open(QFile::encodeName(QDir(source).filePath(names[k])).constData(), SFM_READ, &info);
        sources[std::size_t(k)].out =
            std::make_unique<Media::AudioFile>(outputs[k], sources[std::size_t(k)].format);
    }
    std::vector<float> block(2 * kBuffer);
    QElapsedTimer clock;
    clock.start();
    qint64 written = 0;
    for (bool more = true; more; written += kBuffer) {
        more = false;
        for (Source& s : sources) {
            const sf_count_t count = s.out ? sf_readf_float(s.in, block.data(), kBuffer) : 0;
            if (count > 0) {
                s.out->write(s.format, block.data(), count);
                more = true;
            } else if (s.out) {
                s.out.reset(); // a source that ends first is closed then, as at a stop
            }
        }
        const qint64 due = qint64(double(written) / kRate / speed * 1000);
        if (due > clock.elapsed()) {
            QThread::msleep(quint64(due - clock.elapsed()));
        }
    }
    for (Source& s : sources) {
        s.out.reset();
        sf_close(s.in);
    }
    const qint64 behind = written - live->position();
    QElapsedTimer stop;
    stop.start();
    const QString out = QCoro::waitFor(mixToSend(work));
    std::printf("stop_s=%.2f behind_s=%.1f finished_live=%d fed_s=%.1f\n", double(stop.elapsed()) / 1000,
                double(behind) / kRate, live->position() > written - kRate ? 1 : 0,
                double(clock.elapsed()) / 1000);
    return 0;
}

// Streams both decodings side by side: an hour at 48 kHz would not fit in memory twice.
int compare(const QString& a, const QString& b) {
    Media::TrackReader one(Media::Asset(a).audioTracks().front(), kRate);
    Media::TrackReader two(Media::Asset(b).audioTracks().front(), kRate);
    constexpr int kBlock = 8192;
    std::vector<float> l1(kBlock), r1(kBlock), l2(kBlock), r2(kBlock);
    qint64 frames1 = 0, frames2 = 0;
    double energy1 = 0, energy2 = 0;
    float largest = 0;
    for (;;) {
        const int n1 = one.read(l1.data(), r1.data(), kBlock);
        const int n2 = two.read(l2.data(), r2.data(), kBlock);
        if (n1 == 0 && n2 == 0) {
            break;
        }
        frames1 += n1;
        frames2 += n2;
        for (int i = 0; i < std::max(n1, n2); ++i) {
            const auto k = std::size_t(i);
            const float x1 = i < n1 ? l1[k] : 0, y1 = i < n1 ? r1[k] : 0;
            const float x2 = i < n2 ? l2[k] : 0, y2 = i < n2 ? r2[k] : 0;
            energy1 += double(x1) * x1 + double(y1) * y1;
            energy2 += double(x2) * x2 + double(y2) * y2;
            largest = std::max({largest, std::fabs(x1 - x2), std::fabs(y1 - y2)});
        }
    }
    std::printf("frames_a=%lld frames_b=%lld max_difference=%g level_a_db=%.3f level_b_db=%.3f\n", frames1,
                frames2, double(largest), 10 * std::log10(energy1 / double(2 * frames1)),
                10 * std::log10(energy2 / double(2 * frames2)));
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    return Bench::dispatch(
        argc, argv,
        {{"feed", {3, 3, [](const QStringList& a) { return feed(a[0], a[1], a[2].toDouble()); }}},
         {"compare", {2, 2, [](const QStringList& a) { return compare(a[0], a[1]); }}}},
        "feed SOURCE DIR SPEED | compare A.m4a B.m4a");
}
