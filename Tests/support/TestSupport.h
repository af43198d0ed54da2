// Shared helpers of the tests: generated
// audio files, decoding and simple signal measures.
#pragma once

#include "AudioFile.h"
#include "HttpClient.h"
#include "LiveExport.h"
#include "Recorder.h"

#include <QColor>
#include <QCoroTask>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QUrlQuery>
#include <functional>
#include <vector>

namespace TestSupport {

// Every test program sets libcurl up on its main thread, as the app does: set up lazily on a pool
// thread, OpenSSL leaves that thread's state behind. In the header, so that no program leaves
// it out (a static library's object file is linked only for the symbols a program uses).
inline const Http::CurlSession curlSession;

using Signal = std::function<float(qint64 frame, int channel)>;

// A CAF of float32 samples, written a block at a time as the capture writer does.
class CafWriter {
public:
    CafWriter(const QString& path, Signal signal, int rate = 48000, int channels = 2);
    ~CafWriter();
    void append(double seconds);
    void close() { file_.reset(); }

private:
    Media::PcmFormat format_;
    std::unique_ptr<Media::AudioFile> file_;
    Signal signal_;
    qint64 written_ = 0;
};
void writeCaf(const QString& path, double seconds, const Signal& signal, int rate = 48000, int channels = 2);
Signal tone(double frequency, double amplitude, int rate = 48000);

struct Pcm {
    std::vector<float> left;
    std::vector<float> right;
    qint64 frames() const { return qint64(left.size()); }
};
// Decodes any audio file to 48 kHz float stereo (FFmpeg).
Pcm decode(const QString& path);

// The level of one frequency in a stretch (Goertzel), as an amplitude.
double toneLevel(const std::vector<float>& samples, qint64 from, qint64 to, double frequency, int rate = 48000);

struct StreamInfo {
    QString container;
    QString codec;
    QString profile;
    int sampleRate = 0;
    int channels = 0;
    double seconds = 0;
};
StreamInfo probe(const QString& path);
// The length a CAF's header states, as libsndfile reads it (FFmpeg measures the file instead).
double headerSeconds(const QString& path);

// Awaits a task in a nested event loop and returns its value or its error's description. (QCoro's
// waitFor never returns when the task throws, so the catch is inside.)
template <typename T>
struct Settled {
    std::optional<T> value;
    std::optional<QString> error;
};
template <typename T>
Settled<T> settle(QCoro::Task<T> task) {
    auto wrapper = [](QCoro::Task<T> inner) -> QCoro::Task<Settled<T>> {
        Settled<T> result;
        try {
            result.value = co_await inner;
        } catch (const std::exception& error) {
            result.error = QString::fromUtf8(error.what());
        }
        co_return result;
    };
    return QCoro::waitFor(wrapper(std::move(task)));
}

// The contrast ratio of two colours, as the accessibility guidelines define it (4.5:1 for small
// text, 3:1 for graphics).
double contrast(const QColor& a, const QColor& b);

// A work directory at `path` as the app makes them (private to the user), made if missing, held.
std::shared_ptr<WorkDirectory> workDirectory(const QString& path);
// A new work directory in `root` with the name pattern of the app's, private, not held.
QString newWorkDirectoryIn(const QString& root);
// A recording an earlier run left in `root`: started at `recordedAt` (no metadata when it is
// invalid), its audio ended half an hour later, with `seconds` of a tone as the computer's sound.
QString savedRecording(const QString& root, const QDateTime& recordedAt, double seconds = 1.0,
                       const QString& title = {}, bool isRetried = false);

// Writes a file whole, in place of what was there; false when it could not.
bool writeFile(const QString& path, const QByteArray& bytes);

// Resumes after `ms` milliseconds of a running event loop.
QCoro::Task<> pause(int ms);

// Runs a helper program and returns its exit code (-1 when it could not run in time).
int run(const QString& program, const QStringList& arguments, int timeoutMs = 30000);

// A test program's own temporary and configuration directories: TMPDIR and XDG_CONFIG_HOME
// point into one fresh directory under /tmp.
class PrivateDirs {
public:
    PrivateDirs();
    QString path() const { return dir_.path(); }
    QString filePath(const QString& name) const { return dir_.filePath(name); }
    // Removes the settings and the work directories: a test starts as a new user would.
    void reset() const;

private:
    QTemporaryDir dir_{QStringLiteral("/tmp/velmor-test-XXXXXX")};
};

// What the private bus's notification receiver has logged, oldest first.
QList<QJsonObject> notifications();
// Those posted after the first `after` with this summary.
QList<QJsonObject> notified(qsizetype after, const QString& summary);
// The first of them once it has come; empty when none came within 5 s.
QJsonObject awaitNotified(qsizetype after, const QString& summary);

// An HTTP server on 127.0.0.1 that a test scripts: each whole request takes the first of
// `replies` (the last one stays for every later request), unless it is told to misbehave. One
// made down keeps its port (nothing listens on it) until `open()`.
class HttpServer : public QTcpServer {
public:
    enum class Behaviour {
        answer,
        answerEarly,    // at the end of the head, before the body has come
        silent,         // takes everything, never answers
        resetAfterBody, // the connection broken once the whole body has come
        trickle,        // the reply's head, then a byte every 100 ms for ever
    };
    explicit HttpServer(bool isUp = true);
    void open() { listen(QHostAddress::LocalHost, port_); }
    QString address() const { return QStringLiteral("http://127.0.0.1:%1").arg(port_); }
    QByteArray body() const { return request.mid(request.indexOf("\r\n\r\n") + 4); }
    QUrlQuery query() const;

    QList<QByteArray> replies;
    Behaviour behaviour = Behaviour::answer;
    QByteArray request; // the last one, as far as it came
    int requests = 0;   // answered, or broken as told

private:
    void onData(QTcpSocket* socket);
    quint16 port_ = 0;
};
// A whole reply; the meeting's reply by default.
QByteArray httpReply(int status = 200, const QByteArray& body = R"({"meeting":{"id":"m1"}})",
                     const QByteArray& headers = "Content-Type: application/json\r\n");

// A helper of Tests/support run by Debian's python3 (it has dbus and gi), stopped when this goes;
// made once it has printed its first line (where it listens).
class Script {
public:
    explicit Script(const QString& name, const QStringList& arguments = {});
    ~Script();
    QByteArray firstLine;

private:
    QProcess process_;
};

// A method call on a bus, answered before this returns; the event loop runs meanwhile, so the
// test's own objects answer too. (A plain message: a QDBusInterface's introspection is cached for
// the life of the bus connection, which the leak checker reports.)
QDBusMessage callBus(const QString& service, const QString& path, const QString& interface, const QString& method,
                     const QVariantList& arguments = {},
                     const QDBusConnection& bus = QDBusConnection::sessionBus());
// A property read through org.freedesktop.DBus.Properties.
QVariant busProperty(const QString& service, const QString& path, const QString& interface, const QString& name);

// The local receiver on a free port of 127.0.0.1, accepting `key`; each recording lands in a
// directory of its own under `data`.
class Receiver {
public:
    Receiver(const QString& data, const QString& key);
    ~Receiver();
    QString address() const { return address_; }
    // The meta data of every recording received, in no particular order.
    QList<QJsonObject> received() const;

private:
    QString data_;
    QString address_;
    QProcess process_;
};

} // namespace TestSupport
