// velmor-bench-mixdown: the mixdown's benchmark helper.
//   generate speech|music SECONDS OUT.caf     synthetic speech-like or music-like audio
//   mix DIR [SEGMENTS] [CODER]                 the app's mixdown of DIR/system.caf + DIR/mic.caf
//   snr OUT.m4a SOURCE.caf...                  waveform SNR of OUT against the exact sum of the sources
#include "Mixdown.h"
#include "AudioFile.h"
#include "ExportSession.h"
#include "TrackReader.h"

#include "Command.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <cmath>
#include <cstdio>
#include <random>

namespace {

constexpr int kRate = 48000;

// Voiced syllables: harmonics of a gliding pitch, weighted by the formants of changing vowels,
// with pauses and a little breath noise. Close enough to speech for comparing coders.
float speechSample(qint64 n, std::mt19937& random, double state[6]) {
    const double t = double(n) / kRate;
    const double syllable = std::fmod(t, 0.25) / 0.25;
    const bool pause = std::fmod(t, 3.7) > 3.0;
    const double envelope = pause ? 0 : std::sin(M_PI * syllable);
    const double f0 = 120 + 40 * std::sin(2 * M_PI * 0.7 * t);
    state[0] = std::fmod(state[0] + 2 * M_PI * f0 / kRate, 2 * M_PI);
    static const double formants[5][2] = {{700, 1200}, {400, 2000}, {300, 2300}, {500, 900}, {600, 1700}};
    const int vowel = int(t / 0.25) % 5;
    double out = 0;
    for (int h = 1; h * f0 < 5000; ++h) {
        double weight = 0;
        for (double formant : formants[vowel]) {
            weight += std::exp(-std::pow((h * f0 - formant) / 150, 2));
        }
        out += weight * std::sin(h * state[0]) / std::sqrt(double(h));
    }
    const double breath = 0.01 * std::normal_distribution<>(0, 1)(random);
    return float(envelope * (0.12 * out + breath));
}

float musicSample(qint64 n, std::mt19937& random) {
    const double t = double(n) / kRate;
    static const double chords[4][3] = {
        {261.6, 329.6, 392.0}, {220.0, 261.6, 329.6}, {174.6, 220.0, 261.6}, {196.0, 246.9, 293.7}};
    const int chord = int(t / 2) % 4;
    double out = 0;
    for (double root : chords[chord]) {
        const double f = root * (1 + 0.003 * std::sin(2 * M_PI * 5 * t));
        for (int h = 1; h <= 6; ++h) {
            out += std::sin(2 * M_PI * f * h * t) / (h * h);
        }
    }
    const double beat = std::fmod(t, 0.5);
    out += beat < 0.03 ? (1 - beat / 0.03) * std::normal_distribution<>(0, 1)(random) : 0;
    return float(0.05 * out);
}

// Two minutes are synthesised and repeated: the encoder sees no difference, the benchmark starts sooner.
int generate(const QString& kind, double seconds, const QString& path) {
    const Media::PcmFormat format{kRate, 2, Media::PcmFormat::SampleType::Float32};
    std::mt19937 random(kind == QLatin1String("speech") ? 1 : 2);
    double state[6] = {};
    std::vector<float> loop(std::size_t(120 * kRate));
    for (std::size_t i = 0; i < loop.size(); ++i) {
        loop[i] = kind == QLatin1String("speech") ? speechSample(qint64(i), random, state)
                                                  : musicSample(qint64(i), random);
    }
    Media::AudioFile file(path, format);
    const qint64 total = qint64(seconds * kRate);
    std::vector<float> block(2 * 4800);
    for (qint64 start = 0; start < total; start += 4800) {
        const qint64 count = std::min<qint64>(4800, total - start);
        for (qint64 i = 0; i < count; ++i) {
            const float v = loop[std::size_t((start + i) % qint64(loop.size()))];
            block[std::size_t(2 * i)] = v;
            block[std::size_t(2 * i + 1)] = v;
        }
        file.write(format, block.data(), count);
    }
    return 0;
}

int mix(const QString& dir, int segments, const QString& coder) {
    QElapsedTimer timer;
    timer.start();
    if (segments < 0) {
        // The app's own path, with its defaults.
        const QString out = QCoro::waitFor(mixToSend(Bench::recording(dir)));
        std::printf("%s %.2f s\n", qPrintable(out), double(timer.elapsed()) / 1000);
        return 0;
    }
    Media::Composition composition;
    for (const char* name : {"system.caf", "mic.caf"}) {
        const QString path = QDir(dir).filePath(QString::fromLatin1(name));
        if (!QFile::exists(path)) {
            continue;
        }
        const Media::Asset asset(path);
        composition.addMutableAudioTrack()->insertTimeRange({Media::MediaTime::zero(), asset.duration()},
                                                            asset.audioTracks().front(), Media::MediaTime::zero());
    }
    auto session = Media::ExportSession::create(composition, Media::ExportSession::Preset::AppleM4A);
    session->options().segments = segments;
    session->options().coder = coder.section(QLatin1Char('+'), 0, 0);
    session->options().encoderOptions = coder.section(QLatin1Char('+'), 1);
    session->exportBlocking(QDir(dir).filePath(QStringLiteral("velmor.m4a")));
    std::printf("%.2f s\n", double(timer.elapsed()) / 1000);
    return 0;
}

// A 4th-order low-pass at 4 kHz (two biquads), for the SNR of the band that carries speech.
struct LowPass {
    double z[2][2] = {};
    double b0, b1, b2, a1, a2;
    LowPass() {
        const double w = 2 * M_PI * 4000 / kRate;
        const double alpha = std::sin(w) / (2 * 0.7071);
        const double a0 = 1 + alpha;
        b0 = (1 - std::cos(w)) / 2 / a0;
        b1 = (1 - std::cos(w)) / a0;
        b2 = b0;
        a1 = -2 * std::cos(w) / a0;
        a2 = (1 - alpha) / a0;
    }
    double operator()(double x) {
        for (auto& s : z) {
            const double y = b0 * x + s[0];
            s[0] = b1 * x - a1 * y + s[1];
            s[1] = b2 * x - a2 * y;
            x = y;
        }
        return x;
    }
};

int snr(const QString& output, const QStringList& sources) {
    Media::TrackReader decoded(Media::Asset(output).audioTracks().front(), kRate);
    std::vector<std::unique_ptr<Media::TrackReader>> readers;
    for (const QString& source : sources) {
        readers.push_back(std::make_unique<Media::TrackReader>(Media::Asset(source).audioTracks().front(), kRate));
    }
    constexpr int kBlock = 4096;
    std::vector<float> outL(kBlock), outR(kBlock), l(kBlock), r(kBlock), refL(kBlock), refR(kBlock);
    double signal = 0, noise = 0, signalLow = 0, noiseLow = 0;
    LowPass refFilter, outFilter;
    for (;;) {
        const int count = decoded.read(outL.data(), outR.data(), kBlock);
        if (count == 0) {
            break;
        }
        std::fill(refL.begin(), refL.end(), 0.0f);
        for (auto& reader : readers) {
            std::fill(l.begin(), l.end(), 0.0f);
            std::fill(r.begin(), r.end(), 0.0f);
            reader->read(l.data(), r.data(), count);
            for (int i = 0; i < count; ++i) {
                refL[std::size_t(i)] += l[std::size_t(i)];
            }
        }
        for (int i = 0; i < count; ++i) {
            const double ref = refL[std::size_t(i)];
            const double out = outL[std::size_t(i)];
            signal += ref * ref;
            noise += (out - ref) * (out - ref);
            const double refLow = refFilter(ref);
            const double outLow = outFilter(out);
            signalLow += refLow * refLow;
            noiseLow += (outLow - refLow) * (outLow - refLow);
        }
    }
    std::printf("snr_db=%.2f snr_below_4k_db=%.2f\n", 10 * std::log10(signal / noise),
                10 * std::log10(signalLow / noiseLow));
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    return Bench::dispatch(
        argc, argv,
        {{"generate", {3, 3, [](const QStringList& a) { return generate(a[0], a[1].toDouble(), a[2]); }}},
         {"mix",
          {1, 3,
           [](const QStringList& a) {
               return mix(a[0], a.size() > 1 ? a[1].toInt() : -1, a.size() > 2 ? a[2] : QStringLiteral("fast"));
           }}},
         {"snr", {2, 99, [](const QStringList& a) { return snr(a[0], a.mid(1)); }}}},
        "generate speech|music SECONDS OUT.caf | mix DIR [SEGMENTS] [CODER] | snr OUT SOURCE...");
}
