// The streams of the other applications on the audio server: who records from which source and
// who plays, followed as they come and go. A call is judged from these elsewhere.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace Capture {

class PulseConnection;

// One stream of an application, with what the server tells of that application.
struct ClientStream {
    bool isRecording = false; // a source output; else a sink input (playback)
    QString applicationName;  // application.name: "ZOOM VoiceEngine", "Firefox"
    QString applicationId;    // application.id
    QString binary;           // application.process.binary
    QString sandboxId;        // a Flatpak's id, where the server knows it
    QString mediaRole;        // media.role: "phone" for a call's streams
    bool isOurs = false;      // made by this process
    bool isFromMonitor = false;
    bool isFromModule = false; // a loopback or echo canceller of the server, no application's
    bool isCorked = false;
};

class AudioClients {
public:
    // `onChange` runs on the connection's thread with every stream, after each change and once at
    // the start; `onLost` there too when the server goes away.
    AudioClients(std::function<void(std::vector<ClientStream>)> onChange, std::function<void()> onLost);
    ~AudioClients();
    AudioClients(const AudioClients&) = delete;
    AudioClients& operator=(const AudioClients&) = delete;

    // Connects and starts following; throws CaptureError when the server cannot be reached.
    void start();

private:
    struct Listing;
    // On the connection's thread: lists sources, recordings and playbacks, one after another,
    // then hands on the whole; a change that comes meanwhile lists again after.
    void list();

    std::function<void(std::vector<ClientStream>)> onChange_;
    std::function<void()> onLost_;
    std::unique_ptr<PulseConnection> connection_;
    std::unique_ptr<Listing> listing_;
};

} // namespace Capture
