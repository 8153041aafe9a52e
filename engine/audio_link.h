// The engine's link to the audio subsystem: the engine-wide ADPCM codec and the audio format
// table. Built without the audio library, the engine has no audio decoder: opening still works,
// audio packets are read and consumed, and nothing is decoded (AudioDecoderBuilt() is false).
#pragma once

namespace kestrel::engine {

bool AudioDecoderBuilt();
// Creates the engine-wide codec once; false when it cannot be created.
bool CreateEngineAudioCodec();
void FillAudioFormatTable();

}  // namespace kestrel::engine
