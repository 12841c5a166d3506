// The component table of the plug-in: the two decompressors and their dispatch entries.
#include "codecs/sobrant.h"

namespace {

using zef::sobrant::fourcc;

const ZefComponentRegistration kComponents[] = {
    {fourcc("imdc"), fourcc("ZEFx"), fourcc("krvI"), zef::sobrant::kImageFlags, 0,
     "External DXMedia", "Decompresses DXMedia inputs", 0, "SobrantComponentDispatch"},
    {fourcc("sdec"), fourcc("DxSn"), fourcc("krvI"), zef::sobrant::kSoundFlags, 0,
     "External DXMedia", "Decompresses DXMedia inputs", 0x00050000,
     "SobrantAudioDecompressorComponentDispatch"},
};

} // namespace

extern "C" __attribute__((visibility("default")))
const ZefPluginTable ZefComponentTable = {ZEF_COMPONENT_ABI_VERSION, 2, kComponents};
