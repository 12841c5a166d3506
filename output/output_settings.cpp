#include "output/output_settings.h"

#include "model/project.h"
#include "model/template_list.h"
#include "model/user_interface.h"
#include "platform/movies/export/broadcast_exporter.h"
#include "platform/movies/export/movie_exporter.h"
#include "platform/movies/export/standard_exporters.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace zef::output {

using namespace movies;

namespace {

constexpr OSType kBroadcastSubType = kMovieExportBroadcast;
constexpr OSType kMovieSubType = kMovieExportMovie;

// The server settings' atoms, in the order of their broadcastText entries 8, 7, 5, 4, 3, 2, 1.
struct ServerField {
    OSType atom;
    std::string ServerSettings::*field;
    size_t textEntry;
};
const ServerField kServerFields[] = {
    {fourcc("port"), &ServerSettings::port, 8},      {fourcc("srvr"), &ServerSettings::server, 7},
    {fourcc("titl"), &ServerSettings::title, 5},     {fourcc("athr"), &ServerSettings::author, 4},
    {fourcc("cprg"), &ServerSettings::copyright, 3}, {fourcc("user"), &ServerSettings::user, 2},
    {fourcc("pass"), &ServerSettings::password, 1},
};
constexpr OSType kURLAtom = fourcc("url ");
constexpr OSType kOnAtom = fourcc("on  ");

// The 'brdc' child that keeps the frame rate of video preset n ('vdr1' .. 'vdr6').
OSType presetRateAtom(uint32_t preset)
{
    const char name[5] = {'v', 'd', 'r', char('1' + preset), 0};
    return fourcc(name);
}

} // namespace

int findFrameRate(Fixed rate)
{
    for (size_t i = 0; i < kEditFrameRates.size(); ++i)
        if (kEditFrameRates[i] == rate) return int(i);
    return -1;
}

std::string renewedExtension(const std::string& file, OSType code)
{
    if (file.empty() || file.front() == ' ') return file;
    std::string ext;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const char c = char((code >> shift) & 0xFF);
        if (c == 0) break;
        ext += c;
    }
    if (ext.empty()) return file;
    const size_t slash = file.find_last_of('/');
    const size_t dot = file.find_last_of('.');
    const bool ownDot = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    return (ownDot ? file.substr(0, dot) : file) + "." + ext;
}

ServerSettings readServerSettings(const AtomContainer& settings)
{
    ServerSettings s;
    for (const ServerField& f : kServerFields)
        s.*f.field = readBroadcastText(settings, f.atom);
    return s;
}

FOutputSettings::FOutputSettings(FProject& project, TemplateList& templates,
                                 ComponentManager& components, UserInterface& ui)
    : m_project(project), m_templates(templates), m_manager(components), m_ui(ui)
{
    refresh();
}

const CProjectTemplate& FOutputSettings::current() const { return m_project.composition(); }

void FOutputSettings::refresh()
{
    const CProjectTemplate& t = current();
    m_aspect = t.height > 0 ? double(t.width) / double(t.height) : 4.0 / 3.0;
    m_modified = false;
}

template <class F> void FOutputSettings::change(F&& f)
{
    CProjectTemplate t = current();
    f(t);
    m_project.setComposition(t);
    m_project.modified = true;
    markModified();
}

void FOutputSettings::markModified()
{
    if (m_modified || m_filling) return;
    m_modified = true;
    CProjectTemplate t = current();
    bumpName(t);
    m_project.setComposition(t);
}

// ---- export components

void FOutputSettings::listComponents()
{
    m_components.clear();
    const ComponentDescription looking{kMovieExportType, 0, 0, 0, 0};
    for (Component c = m_manager.findNextComponent(0, looking); c;
         c = m_manager.findNextComponent(c, looking)) {
        ComponentInfo info;
        if (m_manager.getComponentInfo(c, info) != noErr) continue;
        m_components.push_back({info.description, info.name});
    }
}

int FOutputSettings::componentIndex() const
{
    if (m_components.empty()) return -1;
    const CProjectTemplate& t = current();
    for (size_t i = 0; i < m_components.size(); ++i) {
        const ComponentDescription& d = m_components[i].description;
        if (d.componentSubType == t.exportSubType &&
            (t.exportManufacturer == 0 || d.componentManufacturer == t.exportManufacturer))
            return int(i);
    }
    return 0;
}

Component FOutputSettings::findComponent() const
{
    const CProjectTemplate& t = current();
    return m_manager.findNextComponent(
        0, ComponentDescription{kMovieExportType, t.exportSubType, t.exportManufacturer, 0, 0});
}

void FOutputSettings::chooseComponent(int index)
{
    if (index < 0 || size_t(index) >= m_components.size()) return;
    const ComponentDescription& d = m_components[size_t(index)].description;
    const CProjectTemplate& t = current();
    const bool sameSubType = d.componentSubType == t.exportSubType;
    const bool sameMaker = d.componentManufacturer == t.exportManufacturer;
    if (sameSubType && sameMaker) {
        if (t.exportSettings.isNull()) renewExtension();
        return;
    }

    // Settings travel to a related component only when it takes them: another component's
    // codec or atoms it cannot use would fail the render later.
    bool keep = false;
    if (!t.exportSettings.isNull() && (sameSubType || sameMaker)) {
        const Component c = m_manager.findNextComponent(
            0, ComponentDescription{kMovieExportType, d.componentSubType, d.componentManufacturer,
                                    0, 0});
        ComponentInstance inst = 0;
        if (c && m_manager.openComponent(c, &inst) == noErr) {
            keep = m_manager.call(inst, kMovieExportSetSettingsFromAtomContainerSelect,
                                  {intptr_t(&t.exportSettings)}) == noErr;
            m_manager.closeComponent(inst);
        }
    }
    change([&](CProjectTemplate& n) {
        if (!keep) {
            n.exportSettings.reset();
            n.broadcastEnabled = false;
        }
        n.exportSubType = d.componentSubType;
        n.exportManufacturer = d.componentManufacturer;
    });
    renewExtension();
}

LiveSetup FOutputSettings::liveSetup() const
{
    const CProjectTemplate& t = current();
    if (t.exportSettings.isNull() || !findComponent()) return LiveSetup::None;
    if (t.exportSubType == kMovieSubType) return LiveSetup::FileURL;
    if (t.exportSubType == kBroadcastSubType) return LiveSetup::Server;
    return LiveSetup::None;
}

bool FOutputSettings::broadcastSwitchesEnabled() const { return liveSetup() == LiveSetup::Server; }

// ---- output file

void FOutputSettings::setOutputFile(const std::string& file)
{
    if (file == current().outputFile) return;
    change([&](CProjectTemplate& t) { t.outputFile = file; });
    renewExtension();
}

void FOutputSettings::renewExtension()
{
    const Component c = findComponent();
    ComponentInstance inst = 0;
    if (!c || m_manager.openComponent(c, &inst) != noErr) return;
    OSType code = 0;
    if (m_manager.call(inst, kMovieExportGetFileNameExtensionSelect, {intptr_t(&code)}) != noErr)
        code = 0;
    m_manager.closeComponent(inst);
    const std::string renewed = renewedExtension(current().outputFile, code);
    if (renewed != current().outputFile)
        change([&](CProjectTemplate& t) { t.outputFile = renewed; });
}

// ---- frame rate

int FOutputSettings::frameRateIndex() const
{
    return std::max(0, findFrameRate(current().frameRate));
}

bool FOutputSettings::settingsContainer(AtomContainer& out) const
{
    const Handle& h = current().exportSettings;
    return !h.isNull() && AtomContainer::fromHandle(h, out) == noErr;
}

void FOutputSettings::storeSettings(const AtomContainer& settings)
{
    Handle flat = settings.flatten();
    change([&](CProjectTemplate& t) { t.exportSettings = std::move(flat); });
}

bool FOutputSettings::writeFrameRate(AtomContainer& settings, Fixed rate) const
{
    bool changed = false;
    TemporalSettings temporal;
    if (readTemporalSettings(settings, &temporal) && temporal.frameRate != rate) {
        temporal.frameRate = rate;
        changed = writeTemporalSettings(settings, temporal) == noErr;
    }
    uint32_t preset = 0;
    if (current().exportSubType == kBroadcastSubType &&
        readAtomUInt(settings, kVideoSettingsAtom, fourcc("vsta"), &preset) && preset < 6) {
        // The rate in this program's memory order (little-endian), as the exporter reads it.
        const uint8_t bytes[4] = {uint8_t(rate), uint8_t(rate >> 8), uint8_t(rate >> 16),
                                  uint8_t(rate >> 24)};
        const QTAtom parent = settings.findChildByIndex(kParentAtomIsContainer, kBroadcastAtom, 1);
        const auto old =
            parent ? settings.atomData(settings.findChildByIndex(parent, presetRateAtom(preset), 1))
                   : std::span<const uint8_t>();
        const bool same = old.size() == 4 && std::equal(old.begin(), old.end(), bytes);
        if (!same) changed = writeBroadcastData(settings, presetRateAtom(preset), bytes) == noErr;
    }
    return changed;
}

void FOutputSettings::chooseFrameRate(int index)
{
    if (index < 0 || size_t(index) >= kEditFrameRates.size()) return;
    const Fixed rate = kEditFrameRates[size_t(index)];
    AtomContainer settings;
    const bool changedSettings = settingsContainer(settings) && writeFrameRate(settings, rate);
    if (!changedSettings && rate == current().frameRate) return;
    if (changedSettings) storeSettings(settings);
    m_project.setEditFrameRate(rate);
    m_project.modified = true;
    markModified();
}

// ---- size and check boxes

std::pair<int, int> FOutputSettings::editSize(int width, int height, bool widthEdited)
{
    width = std::clamp(width, kMinWidth, kMaxWidth);
    height = std::clamp(height, kMinHeight, kMaxHeight);
    const CProjectTemplate& t = current();
    if (t.keepAspect && m_aspect > 0.0) {
        if (widthEdited)
            height = std::clamp(int(double(width) / m_aspect), kMinHeight, kMaxHeight);
        else
            width = std::clamp(int(double(height) * m_aspect), kMinWidth, kMaxWidth);
    } else {
        m_aspect = double(width) / double(height);
    }
    if (width == t.width && height == t.height) return {width, height};
    const double oldAspect = t.height > 0 ? double(t.width) / double(t.height) : 0.0;
    change([&](CProjectTemplate& n) {
        n.width = width;
        n.height = height;
    });
    m_project.applyOutputSize();
    if (std::fabs(oldAspect - double(width) / double(height)) > 0.01) m_project.refitClips();
    return {width, height};
}

void FOutputSettings::setKeepAspect(bool on)
{
    if (on == current().keepAspect) return;
    change([&](CProjectTemplate& t) { t.keepAspect = on; });
}

void FOutputSettings::setCropEnabled(bool on)
{
    if (on == current().cropEnabled) return;
    change([&](CProjectTemplate& t) { t.cropEnabled = on; });
}

void FOutputSettings::setFlatten(bool on)
{
    if (on == current().flattenForBroadcast) return;
    change([&](CProjectTemplate& t) { t.flattenForBroadcast = on; });
}

void FOutputSettings::setBroadcastEnabled(bool on)
{
    if (on == current().broadcastEnabled) return;
    AtomContainer settings;
    const bool have = settingsContainer(settings);
    if (have) {
        const uint8_t flag[2] = {0, uint8_t(on ? 1 : 0)};
        writeBroadcastData(settings, kOnAtom, flag);
    }
    change([&](CProjectTemplate& t) {
        t.broadcastEnabled = on;
        if (have) t.exportSettings = settings.flatten();
    });
}

// ---- render range

EditTime FOutputSettings::currentFrameTime() const
{
    const std::optional<EditTime> now = m_project.previewPosition();
    return EditTime(now ? now->ticks() : 0);
}

void FOutputSettings::setInPoint(const EditTime& t)
{
    const EditTime end = m_project.projectEnd();
    EditTime in = EditTime(std::clamp<int64_t>(t.ticks(), 0, end.ticks()));
    EditTime out = m_project.renderEnd;
    if (out < in) out = in;
    m_project.setRenderRange(in, out,
                             m_project.renderEndFollowsProject && out == m_project.renderEnd);
}

void FOutputSettings::setOutPoint(const EditTime& t)
{
    const EditTime end = m_project.projectEnd();
    const EditTime in = m_project.renderStart;
    const EditTime out = EditTime(std::clamp<int64_t>(t.ticks(), in.ticks(), end.ticks()));
    m_project.setRenderRange(in, out, false);
}

// ---- component setup

FOutputSettings::SetupResult FOutputSettings::componentSetup(ExporterDialogHost* host)
{
    const Component c = findComponent();
    if (!c) return SetupResult::NoComponent;
    ComponentInstance inst = 0;
    if (m_manager.openComponent(c, &inst) != noErr) return SetupResult::CannotOpen;
    struct Closer {
        ComponentManager& m;
        ComponentInstance i;
        ~Closer() { m.closeComponent(i); }
    } closer{m_manager, inst};

    // The component edits its settings with the edit frame rate written into them (its own
    // defaults when the template has none yet).
    AtomContainer settings;
    if (!settingsContainer(settings)) {
        Handle defaults;
        if (m_manager.call(inst, kMovieExportGetSettingsAsAtomContainerSelect,
                           {intptr_t(&defaults)}) == noErr)
            AtomContainer::fromHandle(defaults, settings);
    }
    writeFrameRate(settings, current().frameRate);
    const Handle given = settings.flatten();
    m_manager.call(inst, kMovieExportSetSettingsFromAtomContainerSelect, {intptr_t(&given)});

    bool cancelled = false;
    const ComponentResult shown = m_manager.call(inst, kMovieExportDoUserDialogSelect,
                                                 {0, intptr_t(host), intptr_t(&cancelled)});
    if (shown != noErr || cancelled) return SetupResult::Cancelled;

    Handle answered;
    const bool got = m_manager.call(inst, kMovieExportGetSettingsAsAtomContainerSelect,
                                    {intptr_t(&answered)}) == noErr;
    change([&](CProjectTemplate& t) {
        t.exportSettings = got ? answered : Handle();
        // The switch of the settings is carried over into the new ones.
        AtomContainer c;
        if (t.broadcastEnabled && got && AtomContainer::fromHandle(t.exportSettings, c) == noErr) {
            const uint8_t flag[2] = {0, 1};
            writeBroadcastData(c, kOnAtom, flag);
            t.exportSettings = c.flatten();
        }
    });
    AtomContainer result;
    TemporalSettings temporal;
    if (settingsContainer(result) && readTemporalSettings(result, &temporal) &&
        findFrameRate(temporal.frameRate) >= 0)
        m_project.setEditFrameRate(temporal.frameRate);
    return SetupResult::Applied;
}

bool FOutputSettings::applyDefaultSettings()
{
    if (!current().exportSettings.isNull()) return true;
    const Component c = findComponent();
    ComponentInstance inst = 0;
    if (!c || m_manager.openComponent(c, &inst) != noErr) return false;
    Handle defaults;
    const bool got = m_manager.call(inst, kMovieExportGetSettingsAsAtomContainerSelect,
                                    {intptr_t(&defaults)}) == noErr;
    m_manager.closeComponent(inst);
    AtomContainer settings;
    if (!got || AtomContainer::fromHandle(defaults, settings) != noErr) return false;
    writeFrameRate(settings, current().frameRate);
    storeSettings(settings);
    return true;
}

// ---- live setup

std::string FOutputSettings::fileURL() const
{
    AtomContainer settings;
    return settingsContainer(settings) ? readBroadcastText(settings, kURLAtom) : std::string();
}

void FOutputSettings::setFileURL(const std::string& url)
{
    AtomContainer settings;
    if (!settingsContainer(settings)) return;
    writeBroadcastText(settings, kURLAtom, url);
    change([&](CProjectTemplate& t) {
        t.exportSettings = settings.flatten();
        t.broadcastText[0] = readBroadcastText(settings, kURLAtom);
    });
}

ServerSettings FOutputSettings::serverSettings() const
{
    AtomContainer settings;
    return settingsContainer(settings) ? readServerSettings(settings) : ServerSettings{};
}

void FOutputSettings::setServerSettings(const ServerSettings& s)
{
    AtomContainer settings;
    if (!settingsContainer(settings)) return;
    for (const ServerField& f : kServerFields)
        writeBroadcastText(settings, f.atom, s.*f.field);
    change([&](CProjectTemplate& t) {
        t.exportSettings = settings.flatten();
        for (const ServerField& f : kServerFields)
            t.broadcastText[f.textEntry] = readBroadcastText(settings, f.atom);
    });
}

// ---- templates

int FOutputSettings::showTemplateList() { return m_templates.addToList(current(), m_ui); }

bool FOutputSettings::chooseTemplate(size_t index)
{
    if (index >= m_templates.size()) return false;
    // Kept by value: saving may reorder the list.
    CProjectTemplate chosen = m_templates.at(index);
    if (m_modified) {
        char question[512];
        std::snprintf(question, sizeof question, "Do you want to save your changes to template %s",
                      current().name.c_str());
        if (m_ui.ask(question, "Warning", Buttons::YesNo, Icon::Warning) == Answer::Yes)
            saveTemplate(current().name);
    }
    // A template without an output file keeps the one the project has.
    if (chosen.outputFile.empty()) chosen.outputFile = current().outputFile;
    // The rate first: it snaps the render range and tells the views.
    const double oldAspect = current().height > 0 ? double(current().width) / current().height : 0;
    m_project.setEditFrameRate(chosen.frameRate);
    m_project.setComposition(chosen);
    m_project.modified = true;
    m_project.applyOutputSize();
    refresh();
    if (std::fabs(oldAspect - m_aspect) > 0.01) m_project.refitClips();
    renewExtension();
    m_modified = false;
    return true;
}

int FOutputSettings::saveTemplate(const std::string& name)
{
    CProjectTemplate t = current();
    if (!name.empty()) t.name = name;
    const int index = m_templates.addToList(t, m_ui);
    if (index < 0) return -1;
    // The project carries the template under the name it was saved as.
    CProjectTemplate saved = current();
    saved.name = m_templates.at(size_t(index)).name;
    saved.builtIn = m_templates.at(size_t(index)).builtIn;
    m_project.setComposition(saved);
    m_modified = false;
    return index;
}

bool FOutputSettings::canDelete(const std::string& name) const
{
    for (size_t i = 0; i < m_templates.size(); ++i)
        if (m_templates.at(i).name == name) return !m_templates.at(i).builtIn;
    return false;
}

int FOutputSettings::deleteTemplate(const std::string& name)
{
    for (size_t i = 0; i < m_templates.size(); ++i) {
        if (m_templates.at(i).name != name) continue;
        if (m_templates.at(i).builtIn) return -1;
        m_templates.removeAt(i);
        if (m_templates.size() == 0) return -1;
        return int(std::min(i, m_templates.size() - 1));
    }
    return -1;
}

// ---- details

bool FOutputSettings::details() const { return m_project.previewFlags[1]; }

void FOutputSettings::setDetails(bool on) { m_project.previewFlags[1] = on; }

} // namespace zef::output
