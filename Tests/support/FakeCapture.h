// A capture service whose every step can be made to fail, for the start workflow's fault paths.
#pragma once

#include "CaptureService.h"
#include "TestSupport.h"

#include <cmath>

struct FakeCaptureService : Capture::CaptureService {
    bool failQuery = false;
    bool failMicrophoneOutput = false;
    bool failStart = false;
    bool failStop = false;
    int stopDelayMs = 0;
    int streamsMade = 0;
    int stopsCalled = 0;
    QList<Capture::OutputType> outputsAdded;
    std::shared_ptr<Capture::StreamOutput> lastOutput;
    std::shared_ptr<Capture::StreamDelegate> lastDelegate;
    Capture::Stream* lastStream = nullptr;
    Dispatch::SerialQueue* lastQueue = nullptr;

    QCoro::Task<> checkServer() override {
        if (failQuery) {
            throw Capture::CaptureError(Capture::CaptureError::Kind::ConnectionRefused, QStringLiteral("test"));
        }
        co_return;
    }

    struct Stream : Capture::Stream {
        FakeCaptureService& service;
        explicit Stream(FakeCaptureService& s) : service(s) {}
        Dispatch::SerialQueue* queue() const { return service.lastQueue; }
        void addStreamOutput(std::shared_ptr<Capture::StreamOutput> output, Capture::OutputType type,
                             Dispatch::SerialQueue& queue) override {
            if (service.failMicrophoneOutput && type == Capture::OutputType::Microphone) {
                throw Capture::CaptureError(Capture::CaptureError::Kind::Other, QStringLiteral("add output"));
            }
            service.outputsAdded.append(type);
            service.lastOutput = output;
            service.lastQueue = &queue;
        }
        QCoro::Task<> startCapture() override {
            if (service.failStart) {
                // One source has started and delivered before the other one fails.
                queue()->async([this, output = service.lastOutput] {
                    const Capture::AudioFormat format{48000, 2, Capture::SampleType::Float32};
                    output->stream(*this, Capture::SampleBuffer(format, QByteArray(48000 * 8, '\0')),
                                   Capture::OutputType::Audio);
                });
                throw Capture::CaptureError(Capture::CaptureError::Kind::NoSuchDevice, QStringLiteral("start"));
            }
            co_return;
        }
        QCoro::Task<> stopCapture() override {
            ++service.stopsCalled;
            if (service.stopDelayMs > 0) {
                co_await TestSupport::pause(service.stopDelayMs);
            }
            if (service.failStop) {
                throw Capture::CaptureError(Capture::CaptureError::Kind::Other, QStringLiteral("stop"));
            }
        }
    };

    std::unique_ptr<Capture::Stream> makeStream(const Capture::StreamConfiguration&,
                                                std::shared_ptr<Capture::StreamDelegate> delegate) override {
        ++streamsMade;
        lastDelegate = std::move(delegate);
        auto stream = std::make_unique<Stream>(*this);
        lastStream = stream.get();
        return stream;
    }

    // The running capture hears `seconds` of a 440 Hz tone of each amplitude (0: digital silence;
    // a negative one: nothing at all from that source), written before this returns.
    void deliver(double seconds, double systemAmplitude = 0.3, double micAmplitude = 0.3) {
        const Capture::AudioFormat format{48000, 2, Capture::SampleType::Float32};
        const auto tone = [&](double amplitude) {
            QByteArray data(qsizetype(seconds * 48000) * 8, '\0');
            auto* samples = reinterpret_cast<float*>(data.data());
            for (qsizetype i = 0; i < data.size() / 4; ++i) {
                samples[i] = float(amplitude * std::sin(double(i / 2) * 2 * M_PI * 440 / 48000));
            }
            return data;
        };
        const QByteArray system = tone(systemAmplitude);
        const QByteArray mic = tone(micAmplitude);
        lastQueue->sync([&] {
            lastOutput->stream(*lastStream, Capture::SampleBuffer(format, system), Capture::OutputType::Audio);
            if (micAmplitude >= 0) {
                lastOutput->stream(*lastStream, Capture::SampleBuffer(format, mic),
                                   Capture::OutputType::Microphone);
            }
        });
    }
    // The audio server ends the running capture, as when it goes away.
    void fail() {
        lastDelegate->streamDidStopWithError(
            *lastStream, std::make_exception_ptr(
                             Capture::CaptureError(Capture::CaptureError::Kind::Other, QStringLiteral("test"))));
    }
};
