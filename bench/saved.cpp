// velmor-bench-saved: sending many saved recordings.
//   run COUNT SERVER   makes COUNT saved recordings (each a finished one-second mix) in $TMPDIR,
//                      sends them all to SERVER as the tray menu does, and prints the time of each
//                      tenth of the sends, the start-up look for them, and the longest stretch the
//                      main thread did not answer (a 10 ms timer's largest gap)
#include "AudioFile.h"
#include "Mixdown.h"
#include "Recorder.h"
#include "WorkDirectory.h"

#include "Command.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTimer>
#include <QUuid>
#include <cmath>
#include <cstdio>

namespace {

// One finished mix, copied into each saved recording: the sends, not the mixdowns, are measured.
QString makeMix(const QString& root) {
    const QString dir = QDir(root).filePath(QStringLiteral("template"));
    QDir().mkpath(dir);
    const std::shared_ptr<Recording> work = Bench::recording(dir);
    const Media::PcmFormat format{48000, 2, Media::PcmFormat::SampleType::Float32};
    std::vector<float> samples(2 * 48000);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = float(0.3 * std::sin(2 * M_PI * 440 * double(i / 2) / 48000));
    }
    Media::AudioFile(work->directory().borrowedSourcePath(WorkDirectory::Source::System), format)
        .write(format, samples.data(), 48000);
    QCoro::waitFor(mixToSend(work));
    return QDir(dir).filePath(QStringLiteral("velmor.m4a"));
}

int run(const QStringList& args) {
    const int count = args[0].toInt();
    const QString server = args[1];
    const QString root = WorkDirectory::root();
    const QString mix = makeMix(root);
    for (int i = 0; i < count; ++i) {
        const QString dir =
            QDir(root).filePath("velmor-" + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper());
        const std::shared_ptr<WorkDirectory> work = Bench::workDirectory((QDir().mkpath(dir), dir));
        QFile::copy(mix, QDir(dir).filePath(QStringLiteral("velmor.m4a")));
        const QDateTime recordedAt = QDateTime::currentDateTime().addSecs(-3600 + i);
        work->writeInfo({recordedAt, recordedAt.addSecs(60), QString(), {}, {}, {}});
    }

    QElapsedTimer clock;
    clock.start();
    qint64 lastBeat = 0;
    qint64 longestGap = 0;
    QTimer heartbeat;
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        longestGap = std::max(longestGap, clock.elapsed() - lastBeat);
        lastBeat = clock.elapsed();
    });
    heartbeat.start(10);

    Recorder recorder;
    QCoro::waitFor(recorder.findSaved());
    const qint64 found = clock.elapsed();
    if (recorder.savedCount() != count) {
        std::fprintf(stderr, "found %d of %d\n", recorder.savedCount(), count);
        return 1;
    }
    std::vector<qint64> sentAt;
    QObject::connect(&recorder, &Recorder::objectWillChange, &recorder, [&] {
        // Read after the store the announcement precedes.
        QTimer::singleShot(0, &recorder, [&] {
            if (recorder.savedCount() + int(sentAt.size()) < count) {
                sentAt.push_back(clock.elapsed());
            }
        });
    });
    const qint64 sendStart = clock.elapsed();
    QCoro::waitFor(recorder.sendSaved(server, QStringLiteral("bench")));
    QCoreApplication::processEvents();
    if (int(sentAt.size()) != count) {
        std::fprintf(stderr, "sent %zu of %d: %s\n", sentAt.size(), count, qPrintable(recorder.status()));
        return 1;
    }
    // The mean time of a send in each tenth of the batch.
    std::printf("saved=%d look_ms=%lld per_send_ms_by_tenth=", count, found);
    const int tenth = std::max(1, count / 10);
    double first = 0;
    double last = 0;
    for (int start = 0; start + tenth <= count; start += tenth) {
        const qint64 from = start == 0 ? sendStart : sentAt[std::size_t(start - 1)];
        const double mean = double(sentAt[std::size_t(start + tenth - 1)] - from) / tenth;
        std::printf("%s%.1f", start == 0 ? "" : ",", mean);
        (start == 0 ? first : last) = mean;
    }
    std::printf(" first_ms=%.1f last_ms=%.1f longest_gap_ms=%lld\n", first, last, longestGap);
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    return Bench::dispatch(argc, argv, {{QStringLiteral("run"), {2, 2, run}}}, "run COUNT SERVER");
}
