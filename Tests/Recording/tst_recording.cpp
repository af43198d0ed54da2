// The work directory on a real disk: who may hold it, and what it trusts of what lies in it; the
// capture writer's files in it, as a crash or a removal finds them.
#include "CaptureWriter.h"
#include "FakeCapture.h"
#include "TestSupport.h"
#include "WorkDirectory.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const Capture::AudioFormat kStereo{48000, 2, Capture::SampleType::Float32};

Capture::SampleBuffer constant(float value, qint64 frames, Capture::AudioFormat format = kStereo) {
    std::vector<float> samples(std::size_t(frames * format.channelCount), value);
    return Capture::SampleBuffer(format, QByteArray(reinterpret_cast<const char*>(samples.data()),
                                                    qsizetype(samples.size() * sizeof(float))));
}

} // namespace

class RecordingTest : public QObject {
    Q_OBJECT

    TestSupport::PrivateDirs tmp_;
    FakeCaptureService service_;
    std::unique_ptr<Capture::Stream> stream_ = service_.makeStream({}, nullptr);

private slots:
    void init() { tmp_.reset(); }

    void oneHolderAtATimeAndOnlyPrivateDirectories() {
        std::shared_ptr<WorkDirectory> made = WorkDirectory::create();
        QVERIFY(WorkDirectory::isWorkDirectoryName(QFileInfo(made->path()).fileName()));
        struct stat info = {};
        QCOMPARE(::stat(QFile::encodeName(made->path()).constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, 0700u);
        // Held: no second holder, in this process or another, until it is let go.
        // Not even a look may share it.
        QVERIFY(!WorkDirectory::open(made->path()));
        QVERIFY(!WorkDirectory::open(made->path(), WorkDirectory::Hold::toLook));
        QCOMPARE(TestSupport::run(QStringLiteral("flock"), {"-n", made->path(), "true"}), 1);
        QCOMPARE(TestSupport::run(QStringLiteral("flock"), {"-n", "-s", made->path(), "true"}), 1);
        const QString path = made->path();
        made.reset();
        QVERIFY(WorkDirectory::open(path));

        // Open to others, a link to a private one, not there at all.
        const QString open = tmp_.filePath(QStringLiteral("open"));
        QVERIFY(QDir().mkpath(open));
        QFile::setPermissions(open, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther |
                                        QFile::ExeOther);
        QVERIFY(!WorkDirectory::open(open));
        QVERIFY(QFile::link(path, tmp_.filePath(QStringLiteral("link"))));
        QVERIFY(!WorkDirectory::open(tmp_.filePath(QStringLiteral("link"))));
        QVERIFY(!WorkDirectory::open(tmp_.filePath(QStringLiteral("missing"))));
        // Another user's (only root can make one here).
        const QString foreign = TestSupport::newWorkDirectoryIn(tmp_.path());
        if (::chown(QFile::encodeName(foreign).constData(), 65534, 65534) == 0) {
            QVERIFY(!WorkDirectory::open(foreign));
        }
    }

    void whatRecordingJsonSaysIsChecked_data() {
        QTest::addColumn<QString>("recordedAt");
        QTest::addColumn<bool>("isBelieved");
        QTest::newRow("plausible") << "2026-03-01T10:15:00.000Z" << true;
        QTest::newRow("far future") << "9999-12-31T23:59:59.000Z" << false;
        QTest::newRow("not a date") << "вчера" << false;
    }
    void whatRecordingJsonSaysIsChecked() {
        QFETCH(QString, recordedAt);
        QFETCH(bool, isBelieved);
        const QString path = TestSupport::newWorkDirectoryIn(tmp_.path());
        TestSupport::writeCaf(QDir(path).filePath("mic.caf"), 0.5, TestSupport::tone(440, 0.3));
        const QString longTitle = QString(1500, QChar(u'ж'));
        TestSupport::writeFile(QDir(path).filePath("recording.json"),
                               QJsonDocument(QJsonObject{{"recordedAt", recordedAt},
                                                         {"endedAt", recordedAt},
                                                         {"title", longTitle},
                                                         {"name", "Запись 9999-12-31 23-59.m4a"},
                                                         {"date", recordedAt.left(10)}})
                                   .toJson());
        const WorkDirectory::Info info = WorkDirectory::open(path)->readInfo();
        QCOMPARE(info.title, longTitle.left(200));
        QCOMPARE(info.isNamed(), isBelieved);
        if (isBelieved) {
            QCOMPARE(info.recordedAt, QDateTime::fromString(recordedAt, Qt::ISODateWithMs).toLocalTime());
        } else {
            // The work file's creation instead; its last change for when the audio ended.
            QVERIFY(std::abs(info.recordedAt.secsTo(QDateTime::currentDateTime())) < 60);
            QVERIFY(!info.endedAt.isValid());
            QVERIFY(std::abs(WorkDirectory::open(path)->audioEnd().secsTo(QDateTime::currentDateTime())) < 60);
        }
        // A file too large to be metadata is not read at all.
        TestSupport::writeFile(QDir(path).filePath("recording.json"),
                               "{\"title\":\"" + QByteArray(70 * 1024, 'x') + "\"}");
        QCOMPARE(WorkDirectory::open(path)->readInfo().title, QString());
    }

    // In a shared directory without the sticky bit, another user can swap the name of a directory
    // for a link while it is sent: the removal goes through the directory that was opened.
    void removingTouchesNothingOutside() {
        const QString path = TestSupport::newWorkDirectoryIn(tmp_.path());
        TestSupport::writeCaf(QDir(path).filePath("system.caf"), 0.5, TestSupport::tone(440, 0.3));
        const auto dir = WorkDirectory::open(path);
        const QString moved = tmp_.filePath(QStringLiteral("moved"));
        QVERIFY(QFile::rename(path, moved));
        const QString victim = tmp_.filePath(QStringLiteral("victim"));
        QVERIFY(QDir().mkpath(victim));
        TestSupport::writeFile(QDir(victim).filePath("system.caf"), "keep me");
        QVERIFY(QFile::link(victim, path));
        dir->remove();
        QVERIFY(QFileInfo::exists(QDir(victim).filePath("system.caf")));
        QVERIFY(QFileInfo(path).isSymLink());
        QVERIFY(QDir(moved).isEmpty()); // its own files went, and the directory is left, unnamed by us
        // Not swapped: the directory itself goes too.
        const QString plain = TestSupport::newWorkDirectoryIn(tmp_.path());
        WorkDirectory::open(plain)->remove();
        QVERIFY(!QFileInfo::exists(plain));
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

QTEST_GUILESS_MAIN(RecordingTest)
#include "tst_recording.moc"
