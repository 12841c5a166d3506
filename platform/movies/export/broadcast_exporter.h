// The live-broadcast exporter ('spit'/'Real') and its broadcast settings.
//
// Broadcast atoms, children of the parent 'brdc' (each the first child of its type):
//   'url '  zero-terminated text   a file URL (written by the movie exporter's dialog; unused)
//   'srvr'  zero-terminated text   the server: a host name or address ("127.0.0.1"), or a whole
//                                  URL "rtmp://host[:port]/app/stream" or
//                                  "rtsp://host[:port]/path"
//   'port'  zero-terminated text   the port (decimal); used when the server names none
//                                  (default 1935 for RTMP, 554 for RTSP)
//   'titl'  zero-terminated text   the title; for a bare host it is also the stream name:
//                                  rtmp://host:port/live/<title> ("stream" when empty)
//   'athr', 'cprg'                 author and copyright, written into the stream's metadata
//   'user', 'pass'                 put into the URL as user:password@ when a user is given
//   'on  '  16-bit flag            1: broadcast; otherwise write a file
//   'loop'  2 bytes (0, flag)      1: a broadcast sends the source again and again until the
//                                  progress procedure stops it (without a progress procedure
//                                  it is sent once)
//   'flat'  2 bytes (flag, 0)      flatten first: changes nothing, the broadcast reads the
//                                  source frame by frame wherever its media lie
//   'flnm'  zero-terminated text   the file to write when not broadcasting (else the path
//                                  given to the export)
//   'vdr1'..'vdr6'  4 bytes        the 16.16 frame rate of video preset 0 .. 5, little-endian
//                                  (the writer's memory order, unlike the other atoms)
// and 'vide'/'vsta' (16-bit) picks the preset whose 'vdrN' rate is used.
//
// Broadcasting streams the source in real time (paced at the frame rate): RTMP as FLV with
// H.264 (zero latency) and AAC; RTSP as RTP with H.264 and AAC. Connecting gives up after
// kBroadcastConnectTimeoutMs (a refused connection fails at once) with kExportConnectionErr.
// Not broadcasting, the exporter writes a movie file like 'MooV' (H.264 and AAC).
#pragma once

#include "platform/movies/export/movie_exporter.h"

#include <span>
#include <string>

namespace zef::movies {

constexpr QTAtomType kBroadcastAtom = fourcc("brdc");
constexpr int kBroadcastConnectTimeoutMs = 5000;
// The longest text a broadcast text atom holds, before its terminating zero.
constexpr size_t kBroadcastTextMax = 259;

// A child of 'brdc' as text: up to the first zero, at most maxBytes; empty when missing.
std::string readBroadcastText(const AtomContainer& settings, QTAtomType child,
                              size_t maxBytes = kBroadcastTextMax + 1);
// Writes a child of 'brdc' (the first of its type): the parent and the child are inserted with
// ID 1 at index 1 when missing; an existing child gets the new data.
OSErr writeBroadcastData(AtomContainer& settings, QTAtomType child, std::span<const uint8_t> data);
// Writes text plus its terminating zero; text longer than kBroadcastTextMax bytes is cut there
// (at the start of a UTF-8 character, so no character is left half).
OSErr writeBroadcastText(AtomContainer& settings, QTAtomType child, const std::string& text);

struct BroadcastTarget {
    std::string url;   // where to send
    std::string muxer; // "flv" or "rtsp"
};

// The target the settings name: paramErr without a server or with an unknown scheme.
OSErr broadcastTarget(const AtomContainer& settings, BroadcastTarget* out);

} // namespace zef::movies
