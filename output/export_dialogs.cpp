#include "output/export_dialogs.h"

#include "output/output_settings.h"
#include "platform/movies/export/av_exporter.h"
#include "platform/movies/export/standard_exporters.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QSpinBox>
#include <QVBoxLayout>

#include <cstring>

namespace zef::output {

using namespace movies;

namespace {

constexpr QTAtomType V = kVideoSettingsAtom;
constexpr QTAtomType S = kSoundSettingsAtom;
constexpr QTAtomType kTemporal = kTemporalSettingsAtom;

// ---- The fields the components share.

SettingField videoCodec(std::vector<FieldChoice> codecs)
{
    return {"Compressor:", V, kCodecAtom, FieldKind::Codec, std::move(codecs)};
}

const FieldChoice kH264{"H.264", kCodecH264};
const FieldChoice kMPEG4{"MPEG-4 Visual", kCodecMPEG4};
const FieldChoice kMJPEG{"Motion JPEG", kCodecMJPEG};
const FieldChoice kProRes{"ProRes 422", kCodecProRes};
const FieldChoice kDNxHR{"DNxHR", kCodecDNxHR};
const FieldChoice kPNG{"PNG (lossless RGB)", kCodecPNG};
const FieldChoice kMPEG1{"MPEG-1", kCodecMPEG1};
const FieldChoice kMPEG2{"MPEG-2", kCodecMPEG2};

SettingField frameRate() { return {"Frame rate:", V, kTemporal, FieldKind::FrameRate}; }

// The codecs whose quantiser follows the temporal quality.
SettingField quality(std::vector<OSType> codecs)
{
    return {"Quality:",
            V,
            kTemporal,
            FieldKind::Quality,
            {{"Minimum", kCodecMinQuality},
             {"Low", kCodecLowQuality},
             {"Normal", kCodecNormalQuality},
             {"High", kCodecHighQuality},
             {"Maximum", kCodecMaxQuality},
             {"Lossless", kCodecLosslessQuality}},
            0,
            0,
            kCodecNormalQuality,
            std::move(codecs)};
}

SettingField keyFrames(std::vector<OSType> codecs = {})
{
    return {"Key frame every (frames, 0: automatic):",
            V,
            kTemporal,
            FieldKind::KeyFrames,
            {},
            0,
            1000,
            0,
            std::move(codecs)};
}

SettingField h264Speed(std::vector<OSType> codecs = {})
{
    std::vector<FieldChoice> presets;
    for (const char* p : {"ultrafast", "superfast", "veryfast", "faster", "fast", "medium", "slow",
                          "slower", "veryslow"})
        presets.push_back({p, 0, p});
    return {"Encoding speed:", V, kPresetAtom, FieldKind::Text, presets, 0, 0, 0,
            std::move(codecs)};
}

SettingField constantQuality(int maximum, uint32_t fallback, std::vector<OSType> codecs = {})
{
    return {"Constant rate factor (lower is better):",
            V,
            kCRFAtom,
            FieldKind::Number16,
            {},
            0,
            maximum,
            fallback,
            std::move(codecs)};
}

SettingField videoBitRate(std::vector<OSType> codecs = {})
{
    return {"Data rate (kbit/s, 0: by quality):",
            V,
            kVideoBitRateAtom,
            FieldKind::KiloBits,
            {},
            0,
            400000,
            0,
            std::move(codecs)};
}

SettingField profile(const char* label, std::vector<FieldChoice> profiles, OSType codec)
{
    return {label, V, kProfileAtom, FieldKind::Choice16, std::move(profiles), 0, 0, 2, {codec}};
}

SettingField soundEnabled()
{
    return {"Include sound", S, kSoundEnabledAtom, FieldKind::Enabled, {}, 0, 0, 1};
}

SettingField soundBitRate(uint32_t fallback, std::vector<OSType> codecs = {})
{
    return {"Sound data rate (kbit/s):",
            S,
            kSoundBitRateAtom,
            FieldKind::KiloBits,
            {},
            32,
            512,
            fallback,
            std::move(codecs)};
}

SettingField sampleRate(std::vector<uint32_t> rates = {22050, 32000, 44100, 48000})
{
    std::vector<FieldChoice> choices = {{"The movie's", 0}};
    static const char* names[] = {"22.05 kHz", "32 kHz", "44.1 kHz", "48 kHz"};
    static const uint32_t values[] = {22050, 32000, 44100, 48000};
    for (uint32_t r : rates)
        for (size_t i = 0; i < 4; ++i)
            if (values[i] == r) choices.push_back({names[i], r});
    return {"Sample rate:", S, kSoundRateAtom, FieldKind::Choice32, choices};
}

SettingField channels()
{
    return {"Channels:",
            S,
            kSoundChannelsAtom,
            FieldKind::Choice16,
            {{"The movie's", 0}, {"Mono", 1}, {"Stereo", 2}}};
}

const std::vector<ExporterDialogDescription>& descriptions()
{
    static const std::vector<ExporterDialogDescription> all = [] {
        const std::vector<OSType> quantised = {kCodecMPEG4, kCodecMJPEG, kCodecMPEG1, kCodecMPEG2};
        const std::vector<OSType> interFrame = {kCodecH264, kCodecMPEG4, kCodecMPEG1, kCodecMPEG2};
        const std::vector<OSType> rated = {kCodecH264, kCodecMPEG4, kCodecMPEG1, kCodecMPEG2};
        const SettingField prores = profile(
            "ProRes profile:", {{"Proxy", 0}, {"LT", 1}, {"422", 2}, {"422 HQ", 3}}, kCodecProRes);
        const SettingField dnxhr =
            profile("DNxHR profile:", {{"LB", 0}, {"SQ", 1}, {"HQ", 2}}, kCodecDNxHR);
        std::vector<ExporterDialogDescription> d;
        d.push_back({kMovieExportMovie,
                     "Movie Settings",
                     {videoCodec({kH264, kMPEG4, kMJPEG, kProRes, kDNxHR, kPNG}),
                      frameRate(),
                      h264Speed({kCodecH264}),
                      constantQuality(51, 23, {kCodecH264}),
                      prores,
                      dnxhr,
                      quality(quantised),
                      videoBitRate(rated),
                      keyFrames(interFrame),
                      soundEnabled(),
                      {"Sound compressor:",
                       S,
                       kCodecAtom,
                       FieldKind::Codec,
                       {{"AAC", kCodecAAC},
                        {"PCM 16-bit (little-endian)", kCodecPCMLE},
                        {"PCM 16-bit (big-endian)", kCodecPCMBE}}},
                      soundBitRate(128, {kCodecAAC}),
                      sampleRate(),
                      channels()}});
        d.push_back({kMovieExportMPEG4,
                     "MPEG-4 Settings",
                     {videoCodec({kH264, kMPEG4}), frameRate(), h264Speed({kCodecH264}),
                      constantQuality(51, 23, {kCodecH264}), quality({kCodecMPEG4}), videoBitRate(),
                      keyFrames(), soundEnabled(), soundBitRate(128), sampleRate(), channels()}});
        d.push_back(
            {kMovieExportMPEG,
             "MPEG-1/2 Settings",
             {videoCodec({kMPEG1, kMPEG2}), frameRate(), quality({}), videoBitRate(), keyFrames(),
              soundEnabled(), soundBitRate(192), sampleRate({32000, 44100, 48000})}});
        d.push_back(
            {kMovieExportAVI,
             "AVI Settings",
             {videoCodec({kMJPEG, kMPEG4}), frameRate(), quality({}), videoBitRate({kCodecMPEG4}),
              keyFrames({kCodecMPEG4}), soundEnabled(), sampleRate(), channels()}});
        d.push_back({kMovieExportDV,
                     "DV Stream Settings",
                     {{"Standard:",
                       V,
                       kDVStandardAtom,
                       FieldKind::Choice16,
                       {{"PAL (720 x 576, 25 fps)", 0}, {"NTSC (720 x 480, 29.97 fps)", 1}}},
                      soundEnabled()}});
        d.push_back({kMovieExportWebM,
                     "WebM Settings",
                     {frameRate(), constantQuality(63, 32), videoBitRate(), keyFrames(),
                      soundEnabled(), soundBitRate(96)}});
        d.push_back({kMovieExportGIF, "Animated GIF Settings", {frameRate()}});
        d.push_back({kMovieExportImageSequence, "Image Sequence Settings", {frameRate()}});
        d.push_back({kMovieExportWAVE, "WAVE Settings", {sampleRate(), channels()}});
        d.push_back({kMovieExportAIFF, "AIFF Settings", {sampleRate(), channels()}});
        d.push_back({kMovieExportBroadcast,
                     "Live Broadcast Settings",
                     {{"Video preset:",
                       V,
                       fourcc("vsta"),
                       FieldKind::Choice16,
                       {{"1", 0}, {"2", 1}, {"3", 2}, {"4", 3}, {"5", 4}, {"6", 5}}},
                      frameRate(),
                      h264Speed(),
                      constantQuality(51, 23),
                      videoBitRate(),
                      keyFrames(),
                      soundEnabled(),
                      soundBitRate(128)}});
        return d;
    }();
    return all;
}

QString controlName(const SettingField& f)
{
    QString name = QString::fromStdString(fourccToString(f.parent)) + "/" +
                   QString::fromStdString(fourccToString(f.atom));
    switch (f.kind) {
    case FieldKind::FrameRate:
        return name + "/rate";
    case FieldKind::Quality:
        return name + "/quality";
    case FieldKind::KeyFrames:
        return name + "/keys";
    default:
        return name;
    }
}

bool isTemporal(FieldKind k)
{
    return k == FieldKind::FrameRate || k == FieldKind::Quality || k == FieldKind::KeyFrames;
}

// The field's stored value: from settings, else from defaults, else the fallback.
uint32_t storedValue(const SettingField& f, const AtomContainer& settings,
                     const AtomContainer& defaults)
{
    if (isTemporal(f.kind)) {
        TemporalSettings t;
        if (!readTemporalSettings(settings, &t) && !readTemporalSettings(defaults, &t))
            return f.fallback;
        return f.kind == FieldKind::FrameRate ? uint32_t(t.frameRate)
               : f.kind == FieldKind::Quality ? t.temporalQuality
                                              : t.keyFrameRate;
    }
    uint32_t v = 0;
    if (readAtomUInt(settings, f.parent, f.atom, &v) ||
        readAtomUInt(defaults, f.parent, f.atom, &v))
        return v;
    return f.fallback;
}

std::string storedText(const SettingField& f, const AtomContainer& settings,
                       const AtomContainer& defaults)
{
    std::string s = readAtomText(settings, f.parent, f.atom, 64);
    return s.empty() ? readAtomText(defaults, f.parent, f.atom, 64) : s;
}

QComboBox* choiceBox(const std::vector<FieldChoice>& choices, QWidget* parent)
{
    auto* box = new QComboBox(parent);
    for (const FieldChoice& c : choices)
        box->addItem(QString::fromUtf8(c.text), QVariant::fromValue(uint(c.value)));
    return box;
}

void selectValue(QComboBox* box, uint32_t value)
{
    const int i = box->findData(QVariant::fromValue(uint(value)));
    box->setCurrentIndex(i >= 0 ? i : 0);
}

} // namespace

const ExporterDialogDescription* exporterDialog(OSType subType)
{
    for (const ExporterDialogDescription& d : descriptions())
        if (d.subType == subType) return &d;
    return nullptr;
}

CExportSettingsDialog::CExportSettingsDialog(const ExporterDialogDescription& description,
                                             const AtomContainer& settings,
                                             const AtomContainer& defaults, QWidget* parent)
    : QDialog(parent), m_description(description)
{
    setWindowTitle(QString::fromUtf8(description.title));
    setObjectName(QStringLiteral("ExportSettingsDialog"));
    auto* layout = new QVBoxLayout(this);
    QFormLayout* forms[2] = {nullptr, nullptr};
    for (const SettingField& f : description.fields) {
        const int which = f.parent == S ? 1 : 0;
        if (!forms[which]) {
            auto* group =
                new QGroupBox(which ? QStringLiteral("Sound") : QStringLiteral("Video"), this);
            forms[which] = new QFormLayout(group);
            layout->addWidget(group);
        }
        QWidget* control = nullptr;
        const uint32_t value = storedValue(f, settings, defaults);
        switch (f.kind) {
        case FieldKind::Codec:
        case FieldKind::Choice16:
        case FieldKind::Choice32:
        case FieldKind::Quality: {
            QComboBox* box = choiceBox(f.choices, this);
            if (f.kind == FieldKind::Quality) {
                // The entry at or below the stored quality.
                int at = 0;
                for (size_t i = 0; i < f.choices.size(); ++i)
                    if (f.choices[i].value <= value) at = int(i);
                box->setCurrentIndex(at);
            } else {
                selectValue(box, value);
            }
            if (f.kind == FieldKind::Codec)
                connect(box, &QComboBox::currentIndexChanged, this, [this] { updateRows(); });
            control = box;
            break;
        }
        case FieldKind::FrameRate: {
            auto* box = new QComboBox(this);
            box->addItem(QStringLiteral("The movie's"), QVariant::fromValue(0u));
            for (size_t i = 0; i < kEditFrameRates.size(); ++i)
                box->addItem(QString::fromUtf8(kEditFrameRateNames[i]),
                             QVariant::fromValue(uint(kEditFrameRates[i])));
            if (value && box->findData(QVariant::fromValue(uint(value))) < 0)
                box->addItem(QString::number(fixedToDouble(Fixed(value)), 'f', 3),
                             QVariant::fromValue(uint(value)));
            selectValue(box, value);
            control = box;
            break;
        }
        case FieldKind::Text: {
            QComboBox* box = choiceBox(f.choices, this);
            const std::string text = storedText(f, settings, defaults);
            for (int i = 0; i < box->count(); ++i)
                if (box->itemText(i).toStdString() == text) box->setCurrentIndex(i);
            control = box;
            break;
        }
        case FieldKind::Number16:
        case FieldKind::KeyFrames:
        case FieldKind::KiloBits: {
            auto* spin = new QSpinBox(this);
            spin->setRange(f.minimum, f.maximum);
            if (f.kind == FieldKind::KiloBits) {
                // Automatic (0) stays possible even where a minimum is given for a set rate.
                spin->setMinimum(0);
                spin->setSpecialValueText(QStringLiteral("automatic"));
                spin->setValue(int(value / 1000));
            } else {
                spin->setValue(int(value));
            }
            control = spin;
            break;
        }
        case FieldKind::Enabled: {
            auto* check = new QCheckBox(QString::fromUtf8(f.label), this);
            check->setChecked(value != 0);
            control = check;
            break;
        }
        }
        control->setObjectName(controlName(f));
        if (f.kind == FieldKind::Enabled)
            forms[which]->addRow(control);
        else
            forms[which]->addRow(QString::fromUtf8(f.label), control);
        m_rows.push_back({&f, control, forms[which]});
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    updateRows();
}

QWidget* CExportSettingsDialog::control(const QString& name) const
{
    for (const Row& r : m_rows)
        if (r.control->objectName() == name) return r.control;
    return nullptr;
}

uint32_t CExportSettingsDialog::codecOf(QTAtomType parent) const
{
    for (const Row& r : m_rows)
        if (r.field->kind == FieldKind::Codec && r.field->parent == parent)
            return static_cast<QComboBox*>(r.control)->currentData().toUInt();
    return 0;
}

bool CExportSettingsDialog::applies(const SettingField& field) const
{
    if (field.onlyFor.empty()) return true;
    const uint32_t codec = codecOf(field.parent);
    // Without a codec field the component has one codec, which the field is made for.
    if (codec == 0) return true;
    return std::find(field.onlyFor.begin(), field.onlyFor.end(), codec) != field.onlyFor.end();
}

void CExportSettingsDialog::updateRows()
{
    for (const Row& r : m_rows)
        r.form->setRowVisible(r.control, applies(*r.field));
    adjustSize();
}

void CExportSettingsDialog::write(AtomContainer& settings) const
{
    TemporalSettings temporal;
    readTemporalSettings(settings, &temporal);
    bool temporalShown = false;
    for (const Row& r : m_rows) {
        const SettingField& f = *r.field;
        if (!applies(f)) continue;
        auto* box = qobject_cast<QComboBox*>(r.control);
        auto* spin = qobject_cast<QSpinBox*>(r.control);
        switch (f.kind) {
        case FieldKind::Codec:
        case FieldKind::Choice32:
            writeAtomUInt32(settings, f.parent, f.atom, box->currentData().toUInt());
            break;
        case FieldKind::Choice16:
            writeAtomUInt16(settings, f.parent, f.atom, uint16_t(box->currentData().toUInt()));
            break;
        case FieldKind::Text:
            writeAtomText(settings, f.parent, f.atom, box->currentText().toStdString());
            break;
        case FieldKind::Number16:
            writeAtomUInt16(settings, f.parent, f.atom, uint16_t(spin->value()));
            break;
        case FieldKind::KiloBits:
            writeAtomUInt32(settings, f.parent, f.atom, uint32_t(spin->value()) * 1000u);
            break;
        case FieldKind::Enabled:
            writeAtomUInt16(settings, f.parent, f.atom,
                            static_cast<QCheckBox*>(r.control)->isChecked() ? 1 : 0);
            break;
        case FieldKind::FrameRate:
            temporal.frameRate = Fixed(box->currentData().toUInt());
            temporalShown = true;
            break;
        case FieldKind::Quality:
            temporal.temporalQuality = box->currentData().toUInt();
            temporalShown = true;
            break;
        case FieldKind::KeyFrames:
            temporal.keyFrameRate = uint32_t(spin->value());
            temporalShown = true;
            break;
        }
    }
    if (temporalShown) writeTemporalSettings(settings, temporal);
}

bool COutputDialogs::runSettingsDialog(const MovieExporter& exporter, AtomContainer& settings)
{
    const ExporterDialogDescription* d = exporterDialog(exporter.subType());
    if (!d) return true;
    CExportSettingsDialog dialog(*d, settings, exporter.defaultSettings(), m_parent);
    if (dialog.exec() != QDialog::Accepted) return false;
    dialog.write(settings);
    return true;
}

} // namespace zef::output
