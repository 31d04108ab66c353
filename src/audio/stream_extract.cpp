#include "audio/stream_extract.h"

#include <algorithm>

#include "audio/audio_decoder.h"
#include "mpeg/timestamps.h"
#include "platform/byte_order.h"

namespace zembra {

namespace {

void drain(AudioDecoder& dec, std::vector<int16_t>& out) {
    out.insert(out.end(), dec.fifo.data.begin(), dec.fifo.data.begin() + dec.fifo.fill);
    dec.fifo.clear();
}

}  // namespace

void decodeElementaryStream(const std::vector<uint8_t>& in, ExtractKind kind, AudioDecoder& dec,
                            std::vector<int16_t>& out) {
    const size_t kPacket = 2016;  // about one DVD packet of payload
    dec.setAnchor(0, 0);
    for (size_t p = 0; p < in.size(); p += kPacket) {
        size_t n = std::min(kPacket, in.size() - p);
        const DecodeStatus status =
            kind == ExtractKind::Ac3 ? dec.ac3Payload(&in[p], n) : dec.mpaPayload(&in[p], n);
        drain(dec, out);
        // The FIFO overflowed (the message is out): the sound ends there.
        if (status != DecodeStatus::Ok) return;
    }
    if (dec.resamplerFlush() == DecodeStatus::Ok) drain(dec, out);
}

void decodeProgramStreamAudio(const std::vector<uint8_t>& in, int track, AudioDecoder& dec,
                              std::vector<int16_t>& out) {
    bool ac3Started = false, mpaStarted = false, anchored = false;
    int trackCoding = 0;  // stream id base of the track's coding once known
    size_t pos = 0;
    const size_t n = in.size();
    while (pos + 6 <= n) {
        if (!(in[pos] == 0 && in[pos + 1] == 0 && in[pos + 2] == 1)) {
            ++pos;
            continue;
        }
        const int code = in[pos + 3];
        if (code == 0xBA) {  // pack header, MPEG-2 or MPEG-1 form
            if ((in[pos + 4] & 0xC0) == 0x40)
                pos += 14 + (pos + 13 < n ? (in[pos + 13] & 7) : 0);
            else
                pos += 12;
            continue;
        }
        if (code < 0xBB) {
            pos += 4;
            continue;
        }
        const size_t end = std::min(n, pos + 6 + size_t(readBe16(&in[pos + 4])));
        size_t p = pos + 6;
        int64_t ptsMs = -1;
        const bool pes = code == 0xBD || (code >= 0xC0 && code <= 0xEF);
        if (pes && p + 3 <= end && (in[p] & 0xC0) == 0x80) {
            const int flags = in[p + 1], headerLength = in[p + 2];
            if ((flags & 0x80) && p + 8 <= end) {
                ptsMs = mpeg::timestampToMs(mpeg::readTimestamp(&in[p + 3]));
            }
            p += 3 + size_t(headerLength);
        } else if (pes) {  // MPEG-1 packet header
            while (p < end && in[p] == 0xFF) ++p;
            if (p < end && (in[p] & 0xC0) == 0x40) p += 2;
            if (p < end && (in[p] & 0xF0) == 0x20)
                p += 5;
            else if (p < end && (in[p] & 0xF0) == 0x30)
                p += 10;
            else
                ++p;
        }
        if (code >= 0xE0 && code <= 0xEF && ptsMs >= 0 && !anchored) {
            dec.sync.videoStartPtsMs = ptsMs;
            dec.setAnchor(0, ptsMs);
            anchored = true;
        }
        const bool audio = code == 0xBD || code == 0xC0 + track;
        if (audio && p < end) {
            if (ptsMs >= 0) dec.sync.lastAudioPtsMs = ptsMs;
            if (!anchored && ptsMs >= 0) {
                // No video: the audio starts the clock.
                dec.sync.videoStartPtsMs = ptsMs;
                dec.setAnchor(0, ptsMs);
                anchored = true;
            }
            // Each coding numbers its tracks from 0: the first coding met
            // with this number is the track's, the others are not mixed in.
            const int coding = code == 0xC0 + track    ? 0xC0
                               : in[p] == 0x80 + track ? 0x80
                               : in[p] == 0xA0 + track ? 0xA0
                                                       : 0;
            if (trackCoding == 0) trackCoding = coding;
            DecodeStatus status = DecodeStatus::Ok;
            if (coding == 0 || coding != trackCoding) {
                // another track, a sub-picture or navigation data
            } else if (coding == 0xC0) {
                if (!mpaStarted) dec.mpaStart(), mpaStarted = true;
                status = dec.mpaPayload(&in[p], end - p);
            } else if (coding == 0x80 && p + 4 <= end) {
                if (!ac3Started) dec.ac3Start(), ac3Started = true;
                status = dec.ac3Payload(&in[p + 4], end - p - 4);
            } else if (coding == 0xA0) {
                status = dec.lpcmPayload(&in[p + 1], end - p - 1);
            }
            drain(dec, out);
            if (status != DecodeStatus::Ok) return;
        }
        pos = std::max(end, pos + 4);
    }
    if (dec.resamplerFlush() == DecodeStatus::Ok) drain(dec, out);
}

}  // namespace zembra
