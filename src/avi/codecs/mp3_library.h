#pragma once
// MP3 sound for AVI files through the system's LAME library (libmp3lame.so.0),
// loaded at run time. Mp3Library keeps the five MP3 settings and makes one
// encoder per AVI piece; a machine without the library simply has no MP3.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "avi/codecs/formats.h"

namespace zembra::avi {

struct LameApi;

// One LAME encoder for 16-bit stereo input. Set up through setVar() with the
// key numbers below, then initParams(); Mp3Library::newEncoder does both.
class Mp3Encoder {
public:
    // The output buffer a flush may need at most.
    static constexpr int kFlushBytes = 7200;

    Mp3Encoder(const LameApi& api, void* handle);
    ~Mp3Encoder();
    Mp3Encoder(const Mp3Encoder&) = delete;
    Mp3Encoder& operator=(const Mp3Encoder&) = delete;

    // Settings by key number (see mp3_library.cpp for the table); false for a
    // key LAME refuses.
    bool setVar(int key, int value);
    bool initParams();

    // Encodes n samples per channel; returns the MP3 bytes placed in out, or
    // a negative number on failure (including a buffer too small: give at
    // least n * 5 / 4 + 7200 bytes).
    int encode(const int16_t* left, const int16_t* right, int n, uint8_t* out, int cap);
    // The same for n interleaved stereo sample frames.
    int encodeInterleaved(const int16_t* pcm, int n, uint8_t* out, int cap);
    // Writes what the encoder still holds (the last partial frame, padded):
    // call once at the end of a piece, before the encoder goes.
    int flush(uint8_t* out, int cap);

    // Samples of silence the decoder sees before the first input sample.
    int encoderDelay() const;
    int sampleRate() const;
    // The bit rate (kbit/s) LAME codes at: the one asked for, or the
    // neighbour it moved a rate it cannot make to.
    int bitRate() const;

    // LAME's own error messages (its words, not ours) from the calls since
    // the last take, oldest first. The encoder shows nothing itself: whoever
    // drives it passes them on where they belong in its own sequence.
    std::vector<std::string> takeMessages();

private:
    const LameApi& api_;
    void* handle_;
    std::vector<std::string> messages_;
};

class Mp3Library {
public:
    struct Values {
        int bitRate = 192;    // kbit/s
        int stereo = 0;       // 0 stereo, 1 joint stereo
        int quality = 3;      // 1 (best) .. 8
        int lowpass = 19500;  // Hz, -1 none
        int highpass = -1;    // Hz, -1 none
    };

    static Mp3Library& instance();

    // Stores the settings and loads the library when it is not loaded yet. A
    // missing library is not reported here: loaded() stays false.
    void load(int bitRate, int stereo, int quality, int lowpass, int highpass);
    bool loaded() const;
    // The library's version ("3.100"), empty when not loaded.
    std::string versionText() const;

    Values values() const { return values_; }
    void setValues(const Values& v) { values_ = v; }

    // A new encoder with the stored settings at this output rate (44100 or
    // 48000); nullptr when the library is missing or LAME refuses the
    // settings. What LAME said while setting it up, refused or not, is added
    // to `messages` (may be null: dropped).
    std::unique_ptr<Mp3Encoder> newEncoder(int sampleRate,
                                           std::vector<std::string>* messages = nullptr) const;
    std::unique_ptr<Mp3Encoder> newEncoder(const Values& values, int sampleRate,
                                           std::vector<std::string>* messages = nullptr) const;

    // The shared object loaded ("libmp3lame.so.0", or the ZEMBRA_LAME_LIBRARY
    // environment variable); setting it forgets the loaded one, load() tries
    // the new name (tests, unusual installs).
    void setLibraryName(const std::string& soname);

private:
    Mp3Library() = default;
    const LameApi* api() const;

    Values values_;
};

// The MPEGLAYER3WAVEFORMAT record (30 bytes) of the MP3 stream of an AVI file.
WaveFormat mp3WaveFormat(int bitRate, int sampleRate);

}  // namespace zembra::avi
