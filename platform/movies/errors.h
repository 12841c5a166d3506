// Result codes of the movie toolbox.
//
// Every toolbox operation that can fail returns one of these codes (0 = success) instead of
// throwing; only allocation failure of a Handle raises OutOfMemory. The values are the classic
// toolbox values, so codes that reach stored data, plug-ins or messages keep their meaning.
#pragma once

#include <cstdint>

namespace zef::movies {

using OSErr = int32_t;
// The 32-bit result of a component call: a result code, or a selector-specific value.
using ComponentResult = int32_t;

// General
constexpr OSErr noErr = 0;
constexpr OSErr ioErr = -36;            // a read or write of a file failed
constexpr OSErr eofErr = -39;           // a read went past the end of a file
constexpr OSErr fnfErr = -43;           // file or folder not found
constexpr OSErr dupFNErr = -48;         // the file exists and may not be replaced
constexpr OSErr paramErr = -50;         // an argument is out of range or inconsistent
constexpr OSErr memFullErr = -108;      // not enough memory, or a size beyond the limits
constexpr OSErr dirNFErr = -120;        // a folder on the path is not a folder
constexpr OSErr userCanceledErr = -128; // the user cancelled

// Movies, tracks and media
constexpr OSErr cantOpenHandler = -2004;  // a component named by a movie cannot be opened
constexpr OSErr badComponentType = -2005; // a component is not of the type the call needs
constexpr OSErr invalidMedia = -2008;     // no media, or a media of the wrong kind
constexpr OSErr invalidTrack = -2009;     // no track, or a track of another movie
constexpr OSErr invalidMovie = -2010;     // not a movie, or a movie file whose table is corrupt
constexpr OSErr invalidSampleTable = -2011;
constexpr OSErr invalidDuration = -2014; // a negative or zero duration where one is needed
constexpr OSErr invalidTime = -2015;     // a time outside the movie, track or media
constexpr OSErr badEditList = -2017;
constexpr OSErr progressProcAborted = -2019; // the progress procedure asked to stop
constexpr OSErr timeNotInTrack = -2031;
constexpr OSErr timeNotInMedia = -2032;
constexpr OSErr invalidSampleNum = -2037;
constexpr OSErr invalidSampleDescIndex = -2039;
constexpr OSErr invalidSampleDescription = -2041;
constexpr OSErr noMovieFound = -2048;    // a file that is not one of our movie files
constexpr OSErr badDataRefIndex = -2050; // sample data that cannot be reached (no file, range)
constexpr OSErr featureUnsupported = -2053;
constexpr OSErr componentDllLoadErr = -2091;          // a plug-in file cannot be loaded
constexpr OSErr componentDllEntryNotFoundErr = -2092; // its table or dispatch entry is missing

// Atom containers
constexpr OSErr cannotFindAtomErr = -2101;
constexpr OSErr notLeafAtomErr = -2102; // data asked of or set on an atom with children
constexpr OSErr atomIndexInvalidErr = -2104;
constexpr OSErr duplicateAtomTypeAndIDErr = -2105;
constexpr OSErr invalidAtomErr = -2106;          // a stale or foreign atom reference
constexpr OSErr invalidAtomContainerErr = -2107; // flattened data that is not a valid container
constexpr OSErr invalidAtomTypeErr = -2108;
constexpr OSErr cannotBeLeafAtomErr = -2109; // children inserted under an atom holding data

// Component manager
constexpr OSErr invalidComponentID = -3000;  // no registered component with that id
constexpr OSErr validInstancesExist = -3001; // unregistering a component that is still open
// The two manager errors carried as 32-bit component results. Their low 16 bits, read as a
// 16-bit result, are -32767 and -32766.
constexpr ComponentResult badComponentInstance = int32_t(0x80008001u);
constexpr ComponentResult badComponentSelector = int32_t(0x80008002u);
// Some components answer an unknown selector with the 16-bit form sign-extended to 32 bits;
// the manager treats it like badComponentSelector (isBadComponentSelector).
constexpr ComponentResult badComponentSelectorShort = -32766;
constexpr bool isBadComponentSelector(ComponentResult r)
{
    return r == badComponentSelector || r == badComponentSelectorShort;
}

} // namespace zef::movies
