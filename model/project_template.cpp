#include "model/project_template.h"

#include <cctype>
#include <cstdio>

namespace zef {

void CProjectTemplate::applyBuiltInDefaults()
{
    exportSettings.reset();
    outputFile = "untitled.mov";
    exportSubType = movies::fourcc("MooV");
    exportManufacturer = movies::fourcc("appl");
    keepAspect = true;
}

void CProjectTemplate::write(storage::StreamWriter& w) const
{
    w.string(name);
    w.int32(width);
    w.int32(height);
    w.flag(broadcastEnabled);
    w.string(broadcastText[0]);
    w.flag(flattenForBroadcast);
    for (size_t i = 1; i < broadcastText.size(); ++i)
        w.string(broadcastText[i]);
    w.int32(frameRate);
    w.string(outputFile);
    w.uint32(exportSubType);
    w.uint32(exportManufacturer);
    w.blob(exportSettings.bytes());
    w.int32(cropRect.left);
    w.int32(cropRect.top);
    w.int32(cropRect.right);
    w.int32(cropRect.bottom);
    w.flag(cropEnabled);
    w.flag(keepAspect);
}

bool CProjectTemplate::read(storage::StreamReader& r)
{
    name = r.string();
    width = r.int32();
    height = r.int32();
    broadcastEnabled = r.flag();
    broadcastText[0] = r.string();
    flattenForBroadcast = r.flag();
    for (size_t i = 1; i < broadcastText.size(); ++i)
        broadcastText[i] = r.string();
    frameRate = r.int32();
    outputFile = r.string();
    exportSubType = r.uint32();
    exportManufacturer = r.uint32();
    std::vector<uint8_t> settings = r.blob();
    if (settings.empty())
        exportSettings.reset();
    else
        exportSettings = movies::Handle(settings.data(), settings.size());
    cropRect.left = r.int32();
    cropRect.top = r.int32();
    cropRect.right = r.int32();
    cropRect.bottom = r.int32();
    cropEnabled = r.flag();
    keepAspect = r.flag();
    return r.ok();
}

bool sameSettings(const CProjectTemplate& a, const CProjectTemplate& b)
{
    return a.cropRect == b.cropRect && a.width == b.width && a.height == b.height &&
           a.keepAspect == b.keepAspect && a.cropEnabled == b.cropEnabled &&
           a.frameRate == b.frameRate && a.exportSettings == b.exportSettings &&
           a.exportSubType == b.exportSubType && a.exportManufacturer == b.exportManufacturer &&
           a.broadcastEnabled == b.broadcastEnabled &&
           a.flattenForBroadcast == b.flattenForBroadcast && a.broadcastText == b.broadcastText;
}

void bumpName(CProjectTemplate& t)
{
    const std::string& n = t.name;
    size_t len = n.size();
    if (len > 2 && std::isdigit(uint8_t(n[len - 1])) && std::isdigit(uint8_t(n[len - 2])) &&
        std::isdigit(uint8_t(n[len - 3]))) {
        int value = std::stoi(n.substr(len - 3)) + 1;
        char digits[16];
        std::snprintf(digits, sizeof digits, "%03d", value);
        t.name = n.substr(0, len - 3) + digits;
    } else {
        t.name = n + "001";
    }
}

} // namespace zef
