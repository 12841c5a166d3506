#include "exporter/print_job.h"

#include "exporter/dv_file.h"
#include "exporter/transmitters.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace zef::peltra {

using namespace movies;

namespace {

constexpr OSType kAVISubType = fourcc("VfW ");
constexpr QTAtomType kEnableSoundAtom = fourcc("enso");

bool fileExists(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// One step's share of the print's progress.
struct Step {
    const ExportProgress* progress;
    double start;
    double span;
    OSErr update(double fraction) const
    {
        const double f = std::clamp(start + span * fraction, 0.0, 1.0);
        return progress->send(movieProgressUpdatePercent, Fixed(f * 65536.0));
    }
    // The procedure given to the AVI exporter: its updates become this step's; its open and
    // close are the print's own business.
    static OSErr forward(int16_t message, int16_t, Fixed percent, intptr_t refcon)
    {
        if (message != movieProgressUpdatePercent) return noErr;
        return reinterpret_cast<const Step*>(refcon)->update(double(percent) / 65536.0);
    }
};

// Calls a selector of an instance through the host.
ComponentResult callThrough(const ZefComponentHost* host, intptr_t instance, int16_t selector,
                            std::initializer_list<intptr_t> params)
{
    ZefComponentCall call{};
    call.selector = selector;
    call.paramCount = uint32_t(params.size());
    std::copy(params.begin(), params.end(), call.params);
    return host->callComponent(host->context, instance, &call);
}

// The movie into the intermediate file through the toolbox's AVI exporter, at this
// component's frame rate.
OSErr exportIntermediate(const ZefComponentHost* host, const PrintSettings& settings,
                         ExportSource& source, const std::string& path, const Step& step)
{
    if (!host || !host->openComponent || !host->callComponent || !host->closeComponent)
        return cantOpenHandler;
    intptr_t avi = 0;
    OSErr err = host->openComponent(host->context, kMovieExportType, kAVISubType, 0, &avi);
    if (err != noErr) return err;
    struct Closer {
        const ZefComponentHost* host;
        intptr_t instance;
        ~Closer() { host->closeComponent(host->context, instance); }
    } closer{host, avi};

    Handle current;
    AtomContainer aviSettings;
    err =
        callThrough(host, avi, kMovieExportGetSettingsAsAtomContainerSelect, {intptr_t(&current)});
    if (err == noErr) err = AtomContainer::fromHandle(current, aviSettings);
    if (err != noErr) return err;
    TemporalSettings temporal;
    if (!readTemporalSettings(aviSettings, &temporal)) temporal = TemporalSettings{};
    temporal.frameRate = settings.temporal.frameRate;
    if ((err = writeTemporalSettings(aviSettings, temporal)) != noErr) return err;
    if (const QTAtom enso =
            aviSettings.findChildByIndex(kParentAtomIsContainer, kEnableSoundAtom, 1))
        aviSettings.removeAtom(enso);
    const Handle flat = aviSettings.flatten();
    err = callThrough(host, avi, kMovieExportSetSettingsFromAtomContainerSelect, {intptr_t(&flat)});
    if (err != noErr) return err;

    ::unlink(path.c_str());
    err = callThrough(host, avi, kMovieExportSetProgressProcSelect,
                      {intptr_t(&Step::forward), intptr_t(&step)});
    if (err != noErr) return err;
    err = callThrough(host, avi, kMovieExportToFileSelect,
                      {intptr_t(&source), intptr_t(path.c_str())});
    callThrough(host, avi, kMovieExportSetProgressProcSelect, {0, 0});
    if (err != noErr) ::unlink(path.c_str()); // never reused by a later print
    return err;
}

std::unique_ptr<DvTransmitter> chooseTransmitter(const PrintSettings& settings)
{
    if (settings.transmitter == TransmitterKind::fireWireElseSink)
        if (auto fireWire = makeFireWireTransmitter()) return fireWire;
    if (settings.sinkPath.empty()) return nullptr;
    return makeSinkTransmitter(settings.sinkPath);
}

OSErr runPrint(const ZefComponentHost* host, const ExportProgress& progress,
               const PrintSettings& settings, ExportSource& source, const PrintFiles& files)
{
    const Step exporting{&progress, 0.0, 0.6};
    const Step encoding{&progress, 0.6, 0.2};
    const Step playing{&progress, 0.8, 0.2};
    OSErr err = noErr;

    if (settings.forceNewFiles || !fileExists(files.dv)) {
        if (settings.forceNewFiles || !fileExists(files.intermediate)) {
            err = exportIntermediate(host, settings, source, files.intermediate, exporting);
            if (err != noErr) return err;
        }
        const VideoFormat movie = source.video();
        err = encodeDvFile(files.intermediate, files.dv, dvStandardFor(movie.rate, movie.height),
                           [&](double f) { return encoding.update(f); });
        if (err != noErr) return err;
    }

    bool pal = true;
    int64_t frames = 0;
    if ((err = probeDvFile(files.dv, &pal, &frames)) != noErr) return err;
    std::unique_ptr<DvTransmitter> transmitter = chooseTransmitter(settings);
    if (!transmitter) return kExportConnectionErr;

    // Without a user to ask (a command-line render) the stored settings have decided already:
    // the print goes on.
    if (host && host->alert) host->alert(host->context, kPrepareTitle, kPrepareText);

    double played = 0.0;
    const auto aborted = [&] { return playing.update(played) != noErr; };
    if ((err = transmitter->open(pal, aborted)) != noErr) return err;
    return playOutDvFile(files.dv, *transmitter, [&](double f) {
        played = f;
        return playing.update(f);
    });
}

} // namespace

PrintFiles printFiles(const std::string& destination)
{
    const size_t slash = destination.find_last_of('/');
    const std::string name =
        slash == std::string::npos ? destination : destination.substr(slash + 1);
    if (name.empty()) return {};
    const std::string dv = name + ".QT.AVI";
    return {dv, dv + ".temp.AVI"};
}

PrintSettings readPrintSettings(const AtomContainer& settings)
{
    PrintSettings out;
    uint32_t v = 0;
    if (readAtomUInt(settings, kVideoSettingsAtom, kDirtyAtom, &v)) out.forceNewFiles = v != 0;
    TemporalSettings temporal;
    if (readTemporalSettings(settings, &temporal)) out.temporal = temporal;
    if (readAtomUInt(settings, kTransmitterAtom, kTransmitterKindAtom, &v))
        out.transmitter = v == 1 ? TransmitterKind::sink : TransmitterKind::fireWireElseSink;
    out.sinkPath = readAtomText(settings, kTransmitterAtom, kSinkPathAtom, 4096);
    return out;
}

void writePrintSettings(AtomContainer& settings, const PrintSettings& values)
{
    writeTemporalSettings(settings, values.temporal);
    writeAtomUInt16(settings, kVideoSettingsAtom, kDirtyAtom, values.forceNewFiles ? 1 : 0);
    writeAtomUInt16(settings, kTransmitterAtom, kTransmitterKindAtom, uint16_t(values.transmitter));
    writeAtomText(settings, kTransmitterAtom, kSinkPathAtom, values.sinkPath);
}

AtomContainer defaultPrintSettings()
{
    AtomContainer c;
    writeTemporalSettings(
        c, TemporalSettings{kDefaultTemporalQuality, kDefaultFrameRate, kDefaultKeyFrameRate});
    return c;
}

OSErr printMovie(const ZefComponentHost* host, const ExportProgress& progress,
                 const AtomContainer& settings, ExportSource& source,
                 const std::string& destination)
{
    const PrintFiles files = printFiles(destination);
    if (files.dv.empty()) return paramErr;
    OSErr err = progress.send(movieProgressOpen, 0);
    if (err == noErr) err = runPrint(host, progress, readPrintSettings(settings), source, files);
    progress.send(movieProgressClose, kFixed1);
    return err;
}

} // namespace zef::peltra
