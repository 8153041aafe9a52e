#include "engine/audio_link.h"

#include "engine/engine.h"

#if KESTREL_HAVE_AUDIO
#include "audio/adpcm_codec.h"
#include "audio/audio_format_table.h"
#endif

namespace kestrel::engine {

#if KESTREL_HAVE_AUDIO
namespace {
AdpcmCodec* engineCodec = nullptr;
AudioFormatTable formatTable{};
}  // namespace

bool AudioDecoderBuilt() { return true; }

bool CreateEngineAudioCodec() {
    if (AllocationRefused(Allocation::AudioCodec, sizeof(AdpcmCodec))) return false;
    if (engineCodec == nullptr && adpcm_create(kAdpcmModeMuLaw, &engineCodec) != 0) return false;
    formatTable = make_audio_format_table(engineCodec);
    return true;
}

void FillAudioFormatTable() { formatTable = make_audio_format_table(engineCodec); }

#else

bool AudioDecoderBuilt() { return false; }

// No audio library in this build: there is no codec to create, and no open fails for lack of one.
bool CreateEngineAudioCodec() { return !AllocationRefused(Allocation::AudioCodec, 0); }

void FillAudioFormatTable() {}

#endif

}  // namespace kestrel::engine
