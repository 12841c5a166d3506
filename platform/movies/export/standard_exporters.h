// The built-in movie export components and their own settings atoms.
//
// | subtype | name                 | extension | writes                                          |
// |---------|----------------------|-----------|-------------------------------------------------|
// | 'MooV'  | "Movie"              | mov       | H.264 (default), MPEG-4, Motion JPEG, ProRes,   |
// |         |                      |           | DNxHR or PNG; AAC (default) or PCM              |
// | 'mpg4'  | "MPEG-4"             | mp4       | H.264 (or MPEG-4) + AAC, index at the front     |
// | 'Mpeg'  | "MPEG-1/2"           | mpg       | MPEG-1 (default) or MPEG-2 video + MP2 sound    |
// | 'VfW '  | "AVI"                | avi       | Motion JPEG (default) or MPEG-4 + PCM           |
// | 'dvc!'  | "DV Stream"          | dv        | DV 720×576 25 fps (PAL) or 720×480 29.97 (NTSC),|
// |         |                      |           | 48 kHz stereo PCM; pictures scaled to DV size   |
// | 'webm'  | "WebM"               | webm      | VP9 + Opus                                      |
// | 'GIFf'  | "Animated GIF"       | gif       | GIF with one palette built over the whole movie |
// | 'PNGs'  | "Image Sequence"     | png       | name_00001.png, name_00002.png, ... (RGB)       |
// | 'WAVE'  | "WAVE"               | wav       | sound only, PCM 16-bit little-endian            |
// | 'AIFF'  | "AIFF"               | aif       | sound only, PCM 16-bit big-endian               |
// | 'Real'  | "Live Broadcast"     | mov       | streams live to a server, or writes a movie     |
// All are made by manufacturer 'appl' with component flags 0.
//
// Own settings atoms (all big-endian; each the first of its type under the first 'vide' or
// 'soun' parent; a missing atom means the default):
//   'vide'/'codc' 4-char video codec: 'avc1' H.264, 'mp4v' MPEG-4 part 2, 'jpeg' Motion JPEG,
//                 'apcn' ProRes, 'AVdh' DNxHR, 'png ' PNG, 'mpg1' MPEG-1, 'mpg2' MPEG-2
//                 (each exporter takes the codecs of its table above; others give paramErr)
//   'vide'/'prst' H.264 speed preset, zero-terminated text ("ultrafast" .. "veryslow";
//                 default "veryfast")
//   'vide'/'crf ' 16-bit constant rate factor for H.264 (0..51, default 23) and VP9 (0..63,
//                 default 32)
//   'vide'/'vbrt' 32-bit video bit rate in bits per second; nonzero replaces the quality
//                 setting (CRF, or the quantiser derived from the temporal quality)
//   'vide'/'prof' 16-bit codec profile: ProRes 0 proxy, 1 LT, 2 standard (default), 3 HQ;
//                 DNxHR 0 LB, 1 SQ, 2 HQ (default)
//   'vide'/'vsvr' 16-bit whole frame rate ('Mpeg' only; replaces the 'tprl' rate when set)
//   'vide'/'dvst' 16-bit DV standard: 0 PAL (default), 1 NTSC ('dvc!' only)
//   'vide'/'vsta' 16-bit video preset of the broadcast ('Real'; selects 'brdc'/'vdr1'..'vdr6')
//   'soun'/'codc' 4-char sound codec: 'mp4a' AAC, 'sowt' PCM little-endian, 'twos' PCM
//                 big-endian ('MooV': 'mp4a' default, 'sowt', 'twos')
//   'soun'/'abrt' 32-bit sound bit rate, bits per second (AAC default 128000, MP2 192000,
//                 Opus 96000)
//   'soun'/'rate' 32-bit sample rate (0 = the source's; Opus always 48000, DV 48000)
//   'soun'/'chan' 16-bit channel count (0 = the source's, at most 8; DV always 2)
//   'soun'/'enab' 16-bit: 0 leaves the sound out
// The temporal quality of 'vide'/'tprl' picks the quantiser of Motion JPEG, MPEG-4 and
// MPEG-1/2 when no bit rate is set (kCodecMinQuality 24 .. kCodecMaxQuality 2, lossless 1).
//
// 'Real' reads the broadcast atoms under 'brdc' (see broadcast_exporter.h).
#pragma once

#include "platform/movies/components.h"
#include "platform/movies/export/movie_exporter.h"

#include <memory>
#include <vector>

namespace zef::movies {

constexpr OSType kMovieExportMovie = fourcc("MooV");
constexpr OSType kMovieExportMPEG4 = fourcc("mpg4");
constexpr OSType kMovieExportMPEG = fourcc("Mpeg");
constexpr OSType kMovieExportAVI = fourcc("VfW ");
constexpr OSType kMovieExportDV = fourcc("dvc!");
constexpr OSType kMovieExportWebM = fourcc("webm");
constexpr OSType kMovieExportGIF = fourcc("GIFf");
constexpr OSType kMovieExportImageSequence = fourcc("PNGs");
constexpr OSType kMovieExportWAVE = fourcc("WAVE");
constexpr OSType kMovieExportAIFF = fourcc("AIFF");
constexpr OSType kMovieExportBroadcast = fourcc("Real");

constexpr QTAtomType kCodecAtom = fourcc("codc");
constexpr QTAtomType kPresetAtom = fourcc("prst");
constexpr QTAtomType kCRFAtom = fourcc("crf ");
constexpr QTAtomType kVideoBitRateAtom = fourcc("vbrt");
constexpr QTAtomType kProfileAtom = fourcc("prof");
constexpr QTAtomType kMPEGFrameRateAtom = fourcc("vsvr");
constexpr QTAtomType kDVStandardAtom = fourcc("dvst");
constexpr QTAtomType kSoundBitRateAtom = fourcc("abrt");
constexpr QTAtomType kSoundRateAtom = fourcc("rate");
constexpr QTAtomType kSoundChannelsAtom = fourcc("chan");
constexpr QTAtomType kSoundEnabledAtom = fourcc("enab");

// Makes the built-in exporter of a subtype; null for an unknown subtype.
std::unique_ptr<MovieExporter> makeStandardExporter(OSType subType);
// The subtypes of every built-in exporter, in registration order.
std::vector<OSType> standardExporterSubTypes();

// Registers every built-in exporter (type 'spit', manufacturer 'appl') with its name, info and
// version; returns their component ids in the order above.
std::vector<Component> registerStandardExporters(ComponentManager& manager);

// The component wrapper of a MovieExporter: answers the export selectors of movie_exporter.h.
class ExporterComponent : public ComponentImplementation {
public:
    explicit ExporterComponent(std::unique_ptr<MovieExporter> exporter);
    ComponentResult dispatch(ComponentCall& call, ComponentManager& manager) override;
    MovieExporter& exporter() { return *m_exporter; }

private:
    std::unique_ptr<MovieExporter> m_exporter;
};

// The MovieExporter behind an open built-in instance, or null (plug-ins, other components).
MovieExporter* exporterOf(ComponentManager& manager, ComponentInstance instance);

} // namespace zef::movies
