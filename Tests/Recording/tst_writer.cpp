#include "CaptureWriter.h"
#include "FakeCapture.h"
#include "TestSupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

namespace {

const Capture::AudioFormat kStereo{48000, 2, Capture::SampleType::Float32};

Capture::SampleBuffer constant(float value, qint64 frames, Capture::AudioFormat format = kStereo) {
    std::vector<float> samples(std::size_t(frames * format.channelCount), value);
    return Capture::SampleBuffer(format, QByteArray(reinterpret_cast<const char*>(samples.data()),
                                                    qsizetype(samples.size() * sizeof(float))));
}

} // namespace

class CaptureWriterTest : public QObject {
    Q_OBJECT

    FakeCaptureService service_;
    std::unique_ptr<Capture::Stream> stream_ = service_.makeStream({}, nullptr);

private slots:
    void aWorkDirectoryGoneEndsTheRecording() {
        QTemporaryDir root;
        QStringList reasons;
        const auto collect = [&](std::exception_ptr error) {
            try {
                std::rethrow_exception(error);
            } catch (const std::exception& e) {
                reasons.append(QString::fromUtf8(e.what()));
            }
        };
        const QString gone = QStringLiteral("Не удалось записать аудиофайл (папка записи удалена)");
        // Before the first buffer: the file cannot be made, and the writer stays closed.
        const auto early = TestSupport::workDirectory(root.filePath("early"));
        CaptureWriter earlyWriter(early);
        earlyWriter.onStop = collect;
        QVERIFY(QDir(early->path()).removeRecursively());
        earlyWriter.stream(*stream_, constant(0.5f, 480), Capture::OutputType::Audio);
        QCOMPARE(reasons, QStringList{gone});
        earlyWriter.stream(*stream_, constant(0.5f, 480), Capture::OutputType::Microphone);
        QCOMPARE(reasons.size(), 1);
        QVERIFY(!earlyWriter.systemFile && !earlyWriter.micFile);

        // While recording, with both files open: writes into removed files still succeed, yet
        // within a second of audio it ends.
        reasons.clear();
        const auto dir = TestSupport::workDirectory(root.filePath("removed"));
        CaptureWriter writer(dir);
        writer.onStop = collect;
        writer.stream(*stream_, constant(0.5f, 480), Capture::OutputType::Audio);
        writer.stream(*stream_, constant(0.5f, 480), Capture::OutputType::Microphone);
        QVERIFY(writer.systemFile && writer.micFile);
        QVERIFY(QDir(dir->path()).removeRecursively());
        int buffers = 0;
        for (; buffers < 40 && reasons.isEmpty(); ++buffers) {
            writer.stream(*stream_, constant(0.5f, 2400), Capture::OutputType::Audio);
            writer.stream(*stream_, constant(0.5f, 2400), Capture::OutputType::Microphone);
        }
        QCOMPARE(reasons, QStringList{gone});
        QVERIFY2(buffers <= 20, qPrintable(QString::number(buffers))); // 20 buffers of 50 ms: one second
        QVERIFY(!writer.systemFile && !writer.micFile);
    }

    // A crash loses at most the last second: the header counts all but the audio written since
    // its last update, which happens every second of audio.
    void theHeaderIsCurrentEverySecond() {
        QTemporaryDir root;
        const auto dir = TestSupport::workDirectory(root.filePath("crash"));
        CaptureWriter writer(dir);
        for (int i = 0; i < 30; ++i) { // 1.5 s
            writer.stream(*stream_, constant(0.25f, 2400), Capture::OutputType::Audio);
        }
        // Read while the file is still open, as a crash would leave it.
        const QString file = dir->borrowedSourcePath(WorkDirectory::Source::System);
        QCOMPARE(TestSupport::headerSeconds(file), 1.0);
        writer.syncFiles(); // as before a sleep: all of it
        QCOMPARE(TestSupport::headerSeconds(file), 1.5);
        writer.closeFiles();
    }
};

QTEST_GUILESS_MAIN(CaptureWriterTest)
#include "tst_writer.moc"
