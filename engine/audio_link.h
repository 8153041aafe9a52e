// The engine's link to the audio subsystem: the engine-wide ADPCM codec, the audio format table
// and the sound output. Built without the audio library, the engine has no audio decoder:
// opening still works, audio packets are read and consumed, and nothing is decoded or heard
// (AudioDecoderBuilt() is false).
#pragma once

#include <cstdint>

namespace kestrel {
class AudioOutput;
}

namespace kestrel::engine {

bool AudioDecoderBuilt();
// Creates the engine-wide codec once; false when it cannot be created.
bool CreateEngineAudioCodec();
void FillAudioFormatTable();

// The play step with the port's bufferLock held: decodes one audio payload into the port's
// decode buffer and hands it to the sound output under the port's audioLock.
void PlayAudioPacket(int32_t port, const uint8_t* payload, uint32_t length);

// kxCloseSound: lets queued sound play out, closes the device and releases the codec.
void CloseSoundOutput();

// The engine-wide sound writer (none in a build without audio).
AudioOutput* EngineSoundOutput();
// Whether kxOpenSound has marked the sound device open (also when the device would not open).
bool SoundDeviceMarkedOpen();

}  // namespace kestrel::engine
