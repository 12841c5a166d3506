// Media files generated for the tests with the ffmpeg program, once per test run (a file whose
// name carries the hash of its command line is reused when it exists already).
#pragma once

#include "platform/movies/pixmap.h"

#include <string>

namespace zef::movies::testing {

// $ZEF_TEST_TMP/media (created if missing).
std::string mediaDir();

// Runs `ffmpeg <args> OUT` unless OUT exists already and returns OUT's path; OUT is named
// from name (whose extension chooses the container). Fails the test if ffmpeg fails.
std::string generate(const std::string& name, const std::string& args);

// A picture of frame numbers: a video source of w×h (w a multiple of 10) at a rate whose
// frame n shows n in binary as ten vertical bars, bit 0 at the left, white for 1.
std::string numberedVideo(int width, int height, const std::string& rate, double seconds);

// Reads the number that numberedVideo drew from a picture of any size; -1 when a bar is
// neither clearly white nor clearly black.
int frameNumberOf(const Pixmap& picture);

// Writes bytes to a file in mediaDir() and returns its path.
std::string writeFile(const std::string& name, const std::string& bytes);
// The first `size` bytes of a file, copied to a new file.
std::string truncatedCopy(const std::string& path, const std::string& name, size_t size);
size_t fileSize(const std::string& path);

} // namespace zef::movies::testing

namespace zef::movies::testing::media {

// Numbered 320×240 pictures unless said otherwise.
std::string h264Movie();   // H.264 29.97 fps, 150 frames, one key frame, B-frames; AAC 48 kHz mono
std::string mpeg4Movie();  // MPEG-4 part 2 in a movie file, 25 fps, 100 frames, B-frames;
                           // big-endian PCM 44.1 kHz stereo
std::string mjpegAvi();    // Motion JPEG in AVI, 30 fps, 90 frames; PCM 44.1 kHz mono
std::string mpeg1System(); // MPEG-1 system stream, 25 fps, 75 frames, stamps from 0.5 s
std::string mpeg1Elementary(); // MPEG-1 video elementary stream, 25 fps, 50 frames, B-frames
std::string dvFile();          // DV 720×576 25 fps, 25 frames, PCM 48 kHz stereo
std::string pngStill();        // 64×48 half-transparent red
std::string jpegStill();       // 64×48 blue
std::string still(const std::string& extension); // 40×30 green: "bmp", "tiff", "gif"
std::string animatedGif();                       // 64×48, 10 frames at 10 fps
std::string rampWav();                           // 2 s 48 kHz mono, sample n = n mod 2000 − 1000
std::string sineMp3();                           // 2 s 44.1 kHz mono 1 kHz sine
std::string sineAiff();                          // 1 s 22.05 kHz stereo 500 Hz sine
// Numbered 320×240 pictures (H.264, a key frame a second) at 30 fps for 4 s with a 440 Hz
// 48 kHz AAC tone.
std::string avClip4s();
// Numbered 200×400 pictures (portrait, H.264) at 25 fps for 2 s, no sound, stored turned a
// quarter clockwise in a movie file whose track matrix turns them back (as phones write).
std::string turnedPortrait();
std::string matroska();
// Numbered 160×120 pictures at 30 fps for 3 s in Matroska (H.264, a key frame a second) with
// 48 kHz 16-bit stereo sound: silence for the first second, then a 1 kHz tone.
std::string matroskaAv();
// Numbered 160×120 pictures in WebM (VP9) of variable length: 40 ms each, except that every
// picture n with n mod 4 = 2 starts 17 ms late; 50 pictures, no sound.
std::string vfrWebm();
// Sound only: 2 s of a 440 Hz tone, MP2 in an MPEG-2 transport stream.
std::string audioOnlyTs();
std::string mpeg2Program();
std::string transportStream();

} // namespace zef::movies::testing::media
