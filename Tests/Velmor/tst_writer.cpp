#include "CaptureWriter.h"
#include "FakeCapture.h"
#include "TestSupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <sndfile.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const Capture::AudioFormat kStereo{48000, 2, Capture::SampleType::Float32, true};

Capture::SampleBuffer constant(float value, qint64 frames, Capture::AudioFormat format = kStereo) {
    std::vector<float> samples(std::size_t(frames * format.channelCount), value);
    return Capture::SampleBuffer(format, QByteArray(reinterpret_cast<const char*>(samples.data()),
                                                    qsizetype(samples.size() * sizeof(float))));
}

qint64 framesIn(const QString& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    if (!file) {
        return -1;
    }
    sf_close(file);
    return info.frames;
}

} // namespace

class CaptureWriterTest : public QObject {
    Q_OBJECT

    FakeCaptureService service_;
    std::unique_ptr<Capture::Stream> stream_ = service_.makeStream({}, {}, nullptr);

private slots:
    void eachSourceGoesToItsOwnFile() {
        QTemporaryDir dir;
        CaptureWriter writer(dir.path());
        writer.stream(*stream_, constant(0.5f, 480), Capture::OutputType::Audio);
        writer.stream(*stream_, constant(0.25f, 960), Capture::OutputType::Microphone);
        writer.stream(*stream_, constant(0.5f, 480), Capture::OutputType::Audio);
        writer.stream(*stream_, constant(0.9f, 480), Capture::OutputType::Screen);
        writer.systemFile.reset();
        writer.micFile.reset();
        QCOMPARE(framesIn(dir.filePath("system.caf")), 960);
        QCOMPARE(framesIn(dir.filePath("mic.caf")), 960);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 2);
        const TestSupport::Pcm mic = TestSupport::decode(dir.filePath("mic.caf"));
        QCOMPARE(mic.left.front(), 0.25f);
    }

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

    void fileCutOffByAKillStillHoldsItsAudio() {
        // A child process writes for two seconds and is killed mid-recording.
        QTemporaryDir dir;
        const QString path = dir.filePath("system.caf");
        const pid_t child = fork();
        if (child == 0) {
            CaptureWriter writer(dir.path());
            for (int i = 0; i < 1000; ++i) {
                writer.stream(*stream_, constant(0.5f, 2400), Capture::OutputType::Audio);
                if (i == 40) {
                    QFile(dir.filePath("written")).open(QIODevice::WriteOnly);
                }
                QThread::msleep(i >= 40 ? 1000 : 0);
            }
            _exit(0);
        }
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir.filePath("written")), 10000);
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        // At most the last second is lost.
        const qint64 written = 41 * 2400;
        QVERIFY2(framesIn(path) >= written - 48000, qPrintable(QString::number(framesIn(path))));
        const TestSupport::Pcm pcm = TestSupport::decode(path);
        QVERIFY(pcm.frames() >= written - 48000);
        QCOMPARE(pcm.left[std::size_t(written - 48000 - 1)], 0.5f);
    }
};

QTEST_GUILESS_MAIN(CaptureWriterTest)
#include "tst_writer.moc"
