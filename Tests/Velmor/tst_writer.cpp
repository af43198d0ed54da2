#include "CaptureWriter.h"
#include "FakeCapture.h"
#include "TestSupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

namespace {

const Capture::AudioFormat kStereo{48000, 2, Capture::SampleType::Float32, true};

Capture::SampleBuffer constant(float value, qint64 frames, Capture::AudioFormat format = kStereo) {
    std::vector<float> samples(std::size_t(frames * format.channelCount), value);
    return Capture::SampleBuffer(format, QByteArray(reinterpret_cast<const char*>(samples.data()),
                                                    qsizetype(samples.size() * sizeof(float))));
}

} // namespace

class CaptureWriterTest : public QObject {
    Q_OBJECT

    FakeCaptureService service_;
    std::unique_ptr<Capture::Stream> stream_ = service_.makeStream({}, {}, nullptr);

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
        // Before the first buffer: the file cannot be made.
        CaptureWriter early(root.filePath("missing"));
        early.onStop = collect;
        early.stream(*stream_, constant(0.5f, 480), Capture::OutputType::Audio);
        QCOMPARE(reasons, QStringList{gone});
        QDir().mkpath(root.filePath("missing"));
        early.stream(*stream_, constant(0.5f, 480), Capture::OutputType::Microphone);
        QVERIFY(QDir(root.filePath("missing")).isEmpty()); // closed for good
        // While recording: writes into removed files still succeed, yet within a second it ends.
        const QString dir = root.filePath("removed");
        QDir().mkpath(dir);
        CaptureWriter writer(dir);
        writer.onStop = collect;
        writer.stream(*stream_, constant(0.5f, 480), Capture::OutputType::Audio);
        QVERIFY(QDir(dir).removeRecursively());
        for (int i = 0; i < 30 && reasons.size() < 2; ++i) {
            writer.stream(*stream_, constant(0.5f, 2400), Capture::OutputType::Audio);
            writer.stream(*stream_, constant(0.5f, 2400), Capture::OutputType::Microphone);
        }
        QCOMPARE(reasons, (QStringList{gone, gone}));
        QVERIFY(!writer.systemFile && !writer.micFile);
    }
};

QTEST_GUILESS_MAIN(CaptureWriterTest)
#include "tst_writer.moc"
