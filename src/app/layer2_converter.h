#pragma once
// Our MPEG-1 Layer II encoder as an audio converter of the AVI writer
// ("MPEG Layer II"), in place of the installable Layer II codec the AVI
// output could pick: 16-bit stereo PCM at 44.1 kHz in, Layer II frames out.

#include "avi/codecs/audio_converter.h"

namespace zembra {

// The driver: its formats (one per stereo Layer II bit rate, 44.1 kHz only)
// and its converters.
avi::AudioConverterDriver layer2ConverterDriver();

// Adds the driver to the AVI writer's converter list (once, at start-up).
void registerLayer2Converter();

// The WAVEFORMATEX + MPEG1WAVEFORMAT record of a Layer II stream at kbps.
avi::WaveFormat layer2WaveFormat(int kbps);

}  // namespace zembra
