// The plug-in and the editor are built apart and meet only in the table of virtual functions,
// so each function must sit at its fixed entry. A pointer to a virtual member function holds
// the entry's byte offset in the table (plus one on x86, with the low bit of the adjustment
// set on ARM), which gives the entry a call through it uses.
#include "capture/capture_plugin.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace zef;

namespace {

template <class Member> long entryOf(Member member)
{
    struct Representation {
        uintptr_t ptr;
        ptrdiff_t adj;
    };
    static_assert(sizeof(Member) == sizeof(Representation));
    Representation r;
    std::memcpy(&r, &member, sizeof r);
#if defined(__arm__) || defined(__aarch64__)
    if ((r.adj & 1) == 0) return -1; // not virtual
    return long(r.ptr / sizeof(void*));
#else
    if ((r.ptr & 1) == 0) return -1;
    return long((r.ptr - 1) / sizeof(void*));
#endif
}

} // namespace

TEST(CaptureContract, EveryFunctionSitsAtItsEntry)
{
    using P = ICaptureDevicePlugin;
    EXPECT_EQ(entryOf(&P::GetCapabilities), 2);
    EXPECT_EQ(entryOf(&P::GetState), 3);
    EXPECT_EQ(entryOf(&P::ShowMoreDialog), 4);
    EXPECT_EQ(entryOf(&P::Open), 5);
    EXPECT_EQ(entryOf(&P::Close), 6);
    EXPECT_EQ(entryOf(&P::GetVideoDeviceCount), 7);
    EXPECT_EQ(entryOf(&P::GetVideoDeviceName), 8);
    EXPECT_EQ(entryOf(&P::GetCurrentVideoDevice), 9);
    EXPECT_EQ(entryOf(&P::SelectVideoDevice), 10);
    EXPECT_EQ(entryOf(&P::GetAudioDeviceCount), 11);
    EXPECT_EQ(entryOf(&P::GetAudioDeviceName), 12);
    EXPECT_EQ(entryOf(&P::GetCurrentAudioDevice), 13);
    EXPECT_EQ(entryOf(&P::SelectAudioDevice), 14);
    EXPECT_EQ(entryOf(&P::StartCapture), 15);
    EXPECT_EQ(entryOf(&P::SetPreview), 16);
    EXPECT_EQ(entryOf(&P::StopCapture), 17);
    EXPECT_EQ(entryOf(&P::ExportCaptureFile), 18);
    EXPECT_EQ(entryOf(&P::Reserved19), 19);
    EXPECT_EQ(entryOf(&P::SetCaptureFile), 20);
    EXPECT_EQ(entryOf(&P::Reserved21), 21);
    EXPECT_EQ(entryOf(&P::ShowDialog), 22);
    EXPECT_EQ(entryOf(&P::RestoreSettings), 23);
    EXPECT_EQ(entryOf(&P::SaveSettings), 24);
    EXPECT_EQ(entryOf(&P::Reserved25), 25);
    EXPECT_EQ(entryOf(&P::Reserved26), 26);
    EXPECT_EQ(entryOf(&P::SetVideoWindow), 27);
    EXPECT_EQ(entryOf(&P::Reserved28), 28);
    EXPECT_EQ(entryOf(&P::SetFrameRate), 29);
    EXPECT_EQ(entryOf(&P::Reserved30), 30);
    EXPECT_EQ(entryOf(&P::GetCapturedFramePtr), 31);
    EXPECT_EQ(entryOf(&P::IsPreviewRunning), 32);
}
