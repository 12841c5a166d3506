// The DV file of a print and its playout, with FFmpeg.
//
// The DV file is an AVI file holding DV video (720×576 at 25 fps for PAL, 720×480 at 29.97 fps
// for NTSC) and 48 kHz stereo 16-bit sound. The playout multiplexes both into the raw DV stream
// (DIF frames with the sound inside), which a DV transmitter carries to the tape.
#pragma once

#include "exporter/transmitters.h"
#include "platform/movies/errors.h"
#include "platform/movies/export/movie_exporter.h"

#include <functional>
#include <string>

namespace zef::peltra {

struct DvStandard {
    bool pal = true;
    int width() const { return 720; }
    int height() const { return pal ? 576 : 480; }
    movies::FrameRate rate() const
    {
        return pal ? movies::FrameRate{25, 1} : movies::FrameRate{30000, 1001};
    }
};

// The standard for a movie's frame rate: the family (25 × 2^n or 29.97 × 2^n) the rate lies
// nearer to on a logarithmic scale, so 25, 50, 24 and 12.5 give PAL, 30, 29.97, 60 and 15 NTSC.
// Without a rate, a movie 576 lines high is PAL, any other NTSC.
DvStandard dvStandardFor(movies::FrameRate rate, int height);

// Progress of a step, 0 .. 1; a nonzero answer stops the step, which returns it.
using StepProgress = std::function<movies::OSErr(double fraction)>;

// Re-encodes input (an AVI file with pictures and perhaps sound) to the DV file output. The
// pictures are scaled to the DV size (a picture of 16:9 or wider is flagged as 16:9). When the
// input's frame rate lies within 1 % of the standard's, each picture becomes one DV frame and
// the sound is resampled to keep step (30 fps becomes 29.97 as on NTSC tape); otherwise
// pictures repeat or drop to keep time. The sound is padded with silence to the last frame.
// The file is written under a temporary name and renamed when complete, so a failed or aborted
// encode never leaves a DV file behind. Results: noErr, the progress's answer, fnfErr (no
// input), kExportSourceErr (no pictures), kExportEncoderErr, ioErr.
movies::OSErr encodeDvFile(const std::string& input, const std::string& output, DvStandard standard,
                           const StepProgress& progress);

// Reads what the playout of a DV file needs: whether it is PAL and its frame count. paramErr
// for a file that holds no DV video.
movies::OSErr probeDvFile(const std::string& path, bool* pal, int64_t* frames);

// Plays the DV file out through an open transmitter, frame by frame, and waits until the
// transmitter has played everything (finish). Sound missing from the file is sent as silence,
// so every frame reaches the tape.
movies::OSErr playOutDvFile(const std::string& path, DvTransmitter& transmitter,
                            const StepProgress& progress);

} // namespace zef::peltra
