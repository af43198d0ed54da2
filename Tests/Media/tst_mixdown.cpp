#include "ExportSession.h"
#include "Limiter.h"
#include "LiveExport.h"
#include "Mixdown.h"
#include "TestSupport.h"
#include "WorkDirectory.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>

using TestSupport::decode;
using TestSupport::tone;
using TestSupport::toneLevel;

namespace {

constexpr int kRate = 48000;
const QString kEmpty = QStringLiteral("Запись пустая — ничего не прозвучало");

} // namespace

class MixdownTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    QString path(const char* name) const { return QDir(dir_->path()).filePath(QString::fromUtf8(name)); }
    std::shared_ptr<Recording> work_;
    TestSupport::Settled<QString> mix() { return TestSupport::settle(mixToSend(work_)); }

private slots:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        dir_->setAutoRemove(qEnvironmentVariableIsEmpty("VELMOR_KEEP_TEST_FILES"));
        work_ = std::make_shared<Recording>(WorkDirectory::open(dir_->path()));
    }

    // Of other rates and channel counts too: converted to 48 kHz stereo.
    void bothSourcesPlayFromZeroAtTheirOwnLevels() {
        TestSupport::writeCaf(path("system.caf"), 3.0, tone(440, 0.3, 44100), 44100, 2);
        TestSupport::writeCaf(path("mic.caf"), 1.5, tone(1000, 0.05), 48000, 1);
        const auto result = mix();
        QVERIFY2(result.value, qPrintable(result.error.value_or("")));
        QCOMPARE(QFileInfo(*result.value).canonicalFilePath(), QFileInfo(path("velmor.m4a")).canonicalFilePath());
        const TestSupport::StreamInfo info = TestSupport::probe(*result.value);
        QVERIFY(info.container.contains(QStringLiteral("mp4")));
        QCOMPARE(info.codec, QStringLiteral("aac"));
        QCOMPARE(info.profile, QStringLiteral("LC"));
        QCOMPARE(info.sampleRate, 48000);
        QCOMPARE(info.channels, 2);
        QVERIFY2(std::abs(info.seconds - 3.0) <= 1024.0 / kRate, qPrintable(QString::number(info.seconds)));
        const TestSupport::Pcm out = decode(*result.value);
        QVERIFY(std::abs(out.frames() - 3 * kRate) <= 1024);
        // Both audible in both channels while both play; quiet speech is not scaled down.
        for (const auto* channel : {&out.left, &out.right}) {
            QVERIFY(std::abs(toneLevel(*channel, kRate / 4, kRate, 440) - 0.3) < 0.03);
            QVERIFY(std::abs(toneLevel(*channel, kRate / 4, kRate, 1000) - 0.05) < 0.01);
        }
        // Only the system tone after the microphone has ended.
        QVERIFY(toneLevel(out.left, 2 * kRate, 5 * kRate / 2, 1000) < 0.005);
        QVERIFY(std::abs(toneLevel(out.left, 2 * kRate, 5 * kRate / 2, 440) - 0.3) < 0.03);
    }

    // A source counts from a fifth of a second; an empty work file is no source, one that cannot
    // be read makes the recording broken, not empty. (One beside a good one is left out: the
    // send's test.)
    void whichSourcesCount() {
        QCOMPARE(mix().error, kEmpty); // neither file
        QFile(path("mic.caf")).open(QIODevice::WriteOnly);
        QCOMPARE(mix().error, kEmpty);
        QVERIFY(TestSupport::writeFile(path("system.caf"), QByteArray(4096, 'x')));
        QCOMPARE(mix().error, QStringLiteral("Запись повреждена — её не из чего собрать"));
        TestSupport::writeCaf(path("system.caf"), 0.2, tone(440, 0.3));
        QCOMPARE(mix().error, kEmpty);
        QVERIFY(!QFile::exists(path("velmor.m4a")));
        TestSupport::writeCaf(path("mic.caf"), 0.21, tone(1000, 0.3));
        const TestSupport::Pcm out = decode(*mix().value);
        QVERIFY(std::abs(out.frames() - qint64(0.21 * kRate)) <= 1024);
        QVERIFY(toneLevel(out.left, 0, 9000, 440) < 0.01);
        QVERIFY(toneLevel(out.left, 0, 9000, 1000) > 0.2);
    }

    void brokenSamplesAndFormatsStayBounded() {
        // A driver's NaN or infinity is silence, not the end of the recording.
        TestSupport::writeCaf(path("system.caf"), 1.0, [](qint64 frame, int channel) {
            if (frame == 1000) {
                return channel ? std::numeric_limits<float>::infinity() : std::numeric_limits<float>::quiet_NaN();
            }
            return float(0.3 * std::sin(2 * M_PI * 440 * double(frame) / kRate));
        });
        const auto result = mix();
        QVERIFY2(result.value, qPrintable(result.error.value_or("")));
        const TestSupport::Pcm out = decode(*result.value);
        QVERIFY(std::all_of(out.left.begin(), out.left.end(), [](float x) { return std::isfinite(x); }));
        QVERIFY(toneLevel(out.left, kRate / 4, 3 * kRate / 4, 440) > 0.2);
        // A header that claims 1 Hz is refused before anything large is made.
        QFile::remove(*result.value);
        TestSupport::writeCaf(path("mic.caf"), 1000, tone(0.1, 0.3, 1), 1, 2);
        QVERIFY2(mix().error->startsWith(QStringLiteral("Формат звука не поддерживается (1 Гц")),
                 qPrintable(mix().error.value_or("")));
        QVERIFY(!QFile::exists(path("velmor.m4a")) && !QFile::exists(path("velmor.m4a.part")));
    }

    // The limiter itself, before the encoder: a sum of 1.8 peaks at -3 dBFS, quiet speech is
    // left exactly as it was.
    void theLimiterHoldsMinusThreeDecibels() {
        Media::Limiter limiter(kRate);
        std::vector<float> left(kRate);
        std::vector<float> right(kRate);
        const auto fill = [&](double amplitude) {
            for (int i = 0; i < kRate; ++i) {
                left[std::size_t(i)] = right[std::size_t(i)] =
                    float(amplitude * std::sin(2 * M_PI * 300 * i / kRate));
            }
        };
        fill(1.8);
        limiter.process(left.data(), right.data(), kRate);
        float peak = 0;
        for (int i = 0; i < kRate; ++i) {
            peak = std::max({peak, std::fabs(left[std::size_t(i)]), std::fabs(right[std::size_t(i)])});
        }
        QVERIFY2(peak <= 0.7080f && peak > 0.69f, qPrintable(QString::number(peak)));
        Media::Limiter fresh(kRate);
        fill(0.5);
        const std::vector<float> quiet = left;
        fresh.process(left.data(), right.data(), kRate);
        QVERIFY(left == quiet);
    }

    void segmentsSpliceWithoutGapsOrRepeats() {
        // A continuous tone long enough to split once after a full warm-up; the split export must
        // decode like a single one: same length, and around the cut no further from the tone.
        constexpr qint64 kSeconds = 48;
        TestSupport::writeCaf(path("system.caf"), double(kSeconds), tone(997, 0.3));
        Media::Composition composition;
        composition.addMutableAudioTrack()->insertTimeRange(
            {Media::MediaTime::zero(), {kSeconds * kRate, kRate, true}},
            Media::Asset(path("system.caf")).audioTracks().front(), Media::MediaTime::zero());
        auto single = Media::ExportSession::create(composition, Media::ExportSession::Preset::AppleM4A);
        single->options().segments = 1;
        single->exportBlocking(path("single.m4a"));
        auto split = Media::ExportSession::create(composition, Media::ExportSession::Preset::AppleM4A);
        split->options().segments = 2;
        split->exportBlocking(path("split.m4a"));
        QVERIFY(QDir(dir_->path())
                    .entryList({QStringLiteral(".velmor-spool-*")}, QDir::Hidden | QDir::Files)
                    .isEmpty());

        const TestSupport::Pcm one = decode(path("single.m4a"));
        const TestSupport::Pcm two = decode(path("split.m4a"));
        QCOMPARE(two.frames(), one.frames());
        const qint64 cut = kSeconds * kRate / 2 / 1024 * 1024;
        double errorSingle = 0;
        double errorSplit = 0;
        for (qint64 i = cut - 2 * kRate; i < cut + 2 * kRate; ++i) {
            const double exact = 0.3 * std::sin(2 * M_PI * 997 * double(i) / kRate);
            errorSingle += std::pow(one.left[std::size_t(i)] - exact, 2);
            errorSplit += std::pow(two.left[std::size_t(i)] - exact, 2);
        }
        const double db = 10 * std::log10(errorSplit / errorSingle);
        qInfo("seam: %.2f dB against a single encode", db);
        QVERIFY2(db < 1.0, qPrintable(QStringLiteral("seam error %1 dB above a single encode").arg(db)));
    }

    // Mixed while written, then finished: the same file a stop-time export makes of the same files.
    void encodingWhileRecordingMatchesTheStopTimeMixdown_data() {
        QTest::addColumn<double>("micStart");   // seconds of system audio before the microphone's file appears
        QTest::addColumn<double>("micSeconds"); // how long the microphone lasts
        QTest::addColumn<bool>("isFinishedLive");
        QTest::newRow("stopped at the live edge") << 0.0 << 12.0 << true;
        QTest::newRow("a source that starts late") << 2.0 << 10.0 << true;
        QTest::newRow("a source that ends too short to count") << 0.0 << 0.2 << false;
    }
    void encodingWhileRecordingMatchesTheStopTimeMixdown() {
        QFETCH(double, micStart);
        QFETCH(double, micSeconds);
        QFETCH(bool, isFinishedLive);
        work_->followWorkFiles();
        const std::shared_ptr<Media::LiveExport> live = work_->liveExport();
        TestSupport::CafWriter system(path("system.caf"), tone(440, 0.3, 44100), 44100);
        system.append(micStart);
        TestSupport::CafWriter mic(path("mic.caf"), tone(1000, 0.2));
        double micLeft = micSeconds;
        for (double second = micStart; second < 12.0; second += 0.5) {
            system.append(0.5);
            if (micLeft > 0) {
                mic.append(std::min(0.5, micLeft));
                micLeft -= 0.5;
            }
        }
        if (isFinishedLive) {
            // Stop comes when the mix is at the edge of what the writer has made durable.
            QTRY_VERIFY_WITH_TIMEOUT(live->position() >= 9 * kRate, 30000);
        }
        system.append(0.4);
        system.close();
        mic.close();

        QTemporaryDir reference;
        for (const char* name : {"system.caf", "mic.caf"}) {
            QVERIFY(QFile::copy(path(name), QDir(reference.path()).filePath(QString::fromLatin1(name))));
        }
        const auto result = TestSupport::settle(mixToSend(work_));
        QVERIFY2(result.value, qPrintable(result.error.value_or("")));
        QCOMPARE(live->position() == qint64(12.4 * kRate), isFinishedLive);
        QVERIFY(!work_->liveExport()); // its work is done
        const TestSupport::Pcm out = decode(*result.value);
        const auto referenceDir = std::make_shared<Recording>(WorkDirectory::open(reference.path()));
        const TestSupport::Pcm expected = decode(*TestSupport::settle(mixToSend(referenceDir)).value);
        QVERIFY(out.left == expected.left && out.right == expected.right);
        QVERIFY(std::abs(out.frames() - qint64(12.4 * kRate)) <= 1024);
        QVERIFY(std::abs(toneLevel(out.left, kRate, 2 * kRate, 440) - 0.3) < 0.03);
        QVERIFY(std::abs(toneLevel(out.left, 5 * kRate, 6 * kRate, 1000) - (micSeconds > 1 ? 0.2 : 0.0)) < 0.02);
        QVERIFY(!QFile::exists(path("velmor.m4a.part")));
    }

    // Work that lags too far or failed is left, and the export is done the usual way.
    void aLaggingOrFailedLiveExportGivesWayToAFullOne() {
        TestSupport::writeCaf(path("system.caf"), 6.0, tone(440, 0.3));
        TestSupport::writeCaf(path("mic.caf"), 6.0, tone(1000, 0.2));
        const TestSupport::Pcm expected = decode(*mix().value);
        QVERIFY(QFile::remove(path("velmor.m4a")));
        // Started only now, as after a suspend: all of it left, and two cores would be quicker.
        Media::ExportSession::Options twoCores;
        twoCores.segments = 2;
        const WorkDirectory& dir = work_->directory();
        const QStringList sources{dir.borrowedSourcePath(WorkDirectory::Source::System),
                                  dir.borrowedSourcePath(WorkDirectory::Source::Microphone)};
        auto behind = std::make_shared<Media::LiveExport>(sources, dir.borrowedPartialMixPath(), twoCores);
        // One that cannot write its output at all.
        auto failed = std::make_shared<Media::LiveExport>(sources, path("gone/velmor.m4a.part"));
        for (const auto& live : {behind, failed}) {
            work_->adoptLiveExport(live);
            const auto result = TestSupport::settle(mixToSend(work_));
            QVERIFY2(result.value, qPrintable(result.error.value_or("")));
            const TestSupport::Pcm out = decode(*result.value);
            QVERIFY(out.left == expected.left && out.right == expected.right);
            QVERIFY(live->position() < 6 * kRate);
            QVERIFY(QFile::remove(*result.value));
        }
    }
};

QTEST_GUILESS_MAIN(MixdownTest)
#include "tst_mixdown.moc"
