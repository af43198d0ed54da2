// The export's AAC-LC encoder, fed from a mixer a frame (1024 samples) at a time, each frame's
// timestamp its position on the timeline. Every export path encodes through this, so that they
// all make the same stream from the same mix.
#pragma once

#include "AvHandles.h"
#include "ExportSession.h"
#include "Mixer.h"

#include <functional>

namespace Media {

class AacEncoder {
public:
    static constexpr int kRate = 48000;
    static constexpr qint64 kFrame = 1024;
    using PacketSink = std::function<void(AVPacket*)>;

    explicit AacEncoder(const ExportSession::Options& options); // throws MediaError
    const AVCodecContext* context() const { return encoder_.get(); }

    // Renders the mix from its position up to `end` and encodes it; a last frame may be short.
    // Throws MediaError (Cancelled once `shouldStop` says so).
    void encode(Mixer& mixer, qint64 end, const PacketSink& sink, const std::function<bool()>& shouldStop);
    // Encodes what the encoder still holds.
    void flush(const PacketSink& sink);

private:
    void drain(const PacketSink& sink);

    av::Codec encoder_;
    av::Frame frame_;
    av::Packet packet_;
};

} // namespace Media
