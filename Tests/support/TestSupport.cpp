#include "TestSupport.h"

#include "AudioFile.h"
#include "AvHandles.h"
#include "TrackReader.h"

#include <QCoroTimer>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QDir>
#include <QJsonDocument>
#include <QProcess>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <QUuid>
#include <cmath>
#include <sndfile.h>

namespace TestSupport {

CafWriter::CafWriter(const QString& path, Signal signal, int rate, int channels)
    : format_{double(rate), channels, Media::PcmFormat::SampleType::Float32},
      file_(std::make_unique<Media::AudioFile>(path, format_)), signal_(std::move(signal)) {}

CafWriter::~CafWriter() = default;

void CafWriter::append(double seconds) {
    const qint64 end = written_ + qint64(std::llround(seconds * format_.sampleRate));
    std::vector<float> block;
    for (; written_ < end; written_ += qint64(block.size()) / format_.channelCount) {
        const qint64 count = std::min<qint64>(4096, end - written_);
        block.resize(std::size_t(count * format_.channelCount));
        for (qint64 i = 0; i < count; ++i) {
            for (int c = 0; c < format_.channelCount; ++c) {
                block[std::size_t(i * format_.channelCount + c)] = signal_(written_ + i, c);
            }
        }
        file_->write(format_, block.data(), count);
    }
}

void writeCaf(const QString& path, double seconds, const Signal& signal, int rate, int channels) {
    CafWriter(path, signal, rate, channels).append(seconds);
}

Signal tone(double frequency, double amplitude, int rate) {
    return [=](qint64 frame, int) {
        return float(amplitude * std::sin(2 * M_PI * frequency * double(frame) / rate));
    };
}

Pcm decode(const QString& path) {
    const QList<Media::AssetTrack> tracks = Media::Asset(path).audioTracks();
    Media::TrackReader reader(tracks.front(), 48000);
    Pcm pcm;
    std::vector<float> left(8192);
    std::vector<float> right(8192);
    for (;;) {
        const int count = reader.read(left.data(), right.data(), 8192);
        if (count == 0) {
            break;
        }
        pcm.left.insert(pcm.left.end(), left.begin(), left.begin() + count);
        pcm.right.insert(pcm.right.end(), right.begin(), right.begin() + count);
    }
    return pcm;
}

double toneLevel(const std::vector<float>& samples, qint64 from, qint64 to, double frequency, int rate) {
    to = std::min<qint64>(to, qint64(samples.size()));
    const double omega = 2 * M_PI * frequency / rate;
    const double coefficient = 2 * std::cos(omega);
    double s1 = 0;
    double s2 = 0;
    for (qint64 i = from; i < to; ++i) {
        const double s0 = samples[std::size_t(i)] + coefficient * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
    return to > from ? 2 * std::sqrt(std::max(0.0, power)) / double(to - from) : 0;
}

double contrast(const QColor& a, const QColor& b) {
    const auto luminance = [](const QColor& color) {
        const auto channel = [](double value) {
            return value <= 0.04045 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(color.redF()) + 0.7152 * channel(color.greenF()) + 0.0722 * channel(color.blueF());
    };
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

StreamInfo probe(const QString& path) {
    Media::av::Input input = Media::av::openInput(path);
    StreamInfo info;
    info.container = QString::fromUtf8(input->iformat->name);
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVStream* stream = input->streams[i];
        if (stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
            info.codec = QString::fromUtf8(avcodec_get_name(stream->codecpar->codec_id));
            info.profile =
                QString::fromUtf8(avcodec_profile_name(stream->codecpar->codec_id, stream->codecpar->profile));
            info.sampleRate = stream->codecpar->sample_rate;
            info.channels = stream->codecpar->ch_layout.nb_channels;
            info.seconds = stream->duration != AV_NOPTS_VALUE
                               ? double(stream->duration) * av_q2d(stream->time_base)
                               : double(input->duration) / AV_TIME_BASE;
            break;
        }
    }
    return info;
}

double headerSeconds(const QString& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    if (!file) {
        return -1;
    }
    sf_close(file);
    return double(info.frames) / info.samplerate;
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QCoro::Task<> pause(int ms) {
    QTimer timer;
    timer.setSingleShot(true);
    timer.start(ms);
    co_await timer;
}

int run(const QString& program, const QStringList& arguments, int timeoutMs) {
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(2000);
        return -1;
    }
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

std::shared_ptr<WorkDirectory> workDirectory(const QString& path) {
    QDir().mkpath(path);
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return WorkDirectory::open(path);
}

QString newWorkDirectoryIn(const QString& root) {
    const QString path =
        QDir(root).filePath("velmor-" + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper());
    workDirectory(path);
    return path;
}

QString savedRecording(const QString& root, const QDateTime& recordedAt, double seconds, const QString& title,
                       bool isRetried) {
    const QString dir = newWorkDirectoryIn(root);
    if (recordedAt.isValid()) {
        WorkDirectory::Info info{recordedAt, recordedAt.addSecs(1800), title, {}, {}, {}};
        info.isRetried = isRetried;
        WorkDirectory::open(dir)->writeInfo(info);
    }
    if (seconds > 0) {
        writeCaf(QDir(dir).filePath(QStringLiteral("system.caf")), seconds, tone(440, 0.3));
    }
    return dir;
}

PrivateDirs::PrivateDirs() {
    qputenv("TMPDIR", dir_.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", dir_.filePath(QStringLiteral("config")).toUtf8());
}

void PrivateDirs::reset() const {
    QDir(dir_.filePath(QStringLiteral("config"))).removeRecursively();
    for (const QString& dir : QDir(dir_.path()).entryList({QStringLiteral("velmor-*")}, QDir::Dirs)) {
        QDir(dir_.filePath(dir)).removeRecursively();
    }
}

QList<QJsonObject> notifications() {
    QFile log(qEnvironmentVariable("VELMOR_NOTIFICATION_LOG"));
    QList<QJsonObject> entries;
    if (log.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : log.readAll().split('\n')) {
            if (!line.isEmpty()) {
                entries.append(QJsonDocument::fromJson(line).object());
            }
        }
    }
    return entries;
}

QList<QJsonObject> notified(qsizetype after, const QString& summary) {
    QList<QJsonObject> found = notifications().mid(after);
    found.removeIf([&](const QJsonObject& n) { return n[QStringLiteral("summary")].toString() != summary; });
    return found;
}

QJsonObject awaitNotified(qsizetype after, const QString& summary) {
    const QDeadlineTimer deadline(5000);
    while (notified(after, summary).isEmpty() && !deadline.hasExpired()) {
        QTest::qWait(20);
    }
    return notified(after, summary).value(0);
}

HttpServer::HttpServer(bool isUp) {
    listen(QHostAddress::LocalHost);
    port_ = serverPort();
    if (!isUp) {
        close();
    }
    replies.append(httpReply());
    connect(this, &QTcpServer::newConnection, this, [this] {
        QTcpSocket* socket = nextPendingConnection();
        request.clear();
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onData(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    });
}

QUrlQuery HttpServer::query() const {
    return QUrlQuery(QUrl::fromEncoded(request.split(' ').value(1)).query());
}

void HttpServer::onData(QTcpSocket* socket) {
    request += socket->readAll();
    const qsizetype headEnd = request.indexOf("\r\n\r\n");
    if (headEnd < 0 || behaviour == Behaviour::silent) {
        return;
    }
    if (behaviour != Behaviour::answerEarly) {
        const QByteArray head = request.left(headEnd).toLower();
        if (head.contains("expect: 100-continue") && request.size() == headEnd + 4) {
            socket->write("HTTP/1.1 100 Continue\r\n\r\n");
        }
        const qsizetype at = head.indexOf("content-length:");
        const qint64 length = head.mid(at + 15, head.indexOf("\r\n", at) - at - 15).trimmed().toLongLong();
        if (at < 0 || request.size() - headEnd - 4 < length) {
            return;
        }
    }
    ++requests;
    if (behaviour == Behaviour::resetAfterBody) {
        socket->abort();
    } else if (behaviour == Behaviour::trickle) {
        socket->write("HTTP/1.1 200 OK\r\nContent-Length: 1000000\r\n\r\n");
        auto* timer = new QTimer(socket);
        connect(timer, &QTimer::timeout, socket, [socket] { socket->write("x"); });
        timer->start(100);
    } else {
        socket->write(replies.size() > 1 ? replies.takeFirst() : replies.value(0));
        socket->disconnectFromHost();
    }
}

QByteArray httpReply(int status, const QByteArray& body, const QByteArray& headers) {
    return "HTTP/1.1 " + QByteArray::number(status) + " X\r\n" + headers +
           "Connection: close\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

Script::Script(const QString& name, const QStringList& arguments) {
    process_.start(QStringLiteral("/usr/bin/python3"),
                   QStringList{QStringLiteral(VELMOR_SOURCE_DIR "/Tests/support/") + name} + arguments);
    if (process_.waitForReadyRead(10000)) {
        firstLine = process_.readLine().trimmed();
    }
}

Script::~Script() {
    process_.kill();
    process_.waitForFinished(5000);
}

QDBusMessage callBus(const QString& service, const QString& path, const QString& interface, const QString& method,
                     const QVariantList& arguments, const QDBusConnection& bus) {
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, method);
    call.setArguments(arguments);
    return bus.call(call, QDBus::BlockWithGui);
}

QVariant busProperty(const QString& service, const QString& path, const QString& interface, const QString& name) {
    return callBus(service, path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
                   {interface, name})
        .arguments()
        .value(0)
        .value<QDBusVariant>()
        .variant();
}

Receiver::Receiver(const QString& data, const QString& key) : data_(data) {
    process_.start(qEnvironmentVariable("VELMOR_RECEIVER"), {"--key", key, "--data", data, "--port", "0"});
    if (process_.waitForReadyRead(10000)) {
        const QString line = QString::fromUtf8(process_.readLine()).trimmed();
        address_ = line.mid(line.indexOf(QStringLiteral("http://")));
    }
}

Receiver::~Receiver() {
    process_.kill();
    process_.waitForFinished(5000);
}

QList<QJsonObject> Receiver::received() const {
    QList<QJsonObject> metas;
    for (const QString& id : QDir(data_).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile meta(QDir(data_).filePath(id + "/meta.json"));
        if (meta.open(QIODevice::ReadOnly)) {
            QJsonObject object = QJsonDocument::fromJson(meta.readAll()).object();
            object.insert(QStringLiteral("id"), id);
            metas.append(object);
        }
    }
    return metas;
}

} // namespace TestSupport
