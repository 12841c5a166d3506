// The settings dialogs of the built-in export components ("Component Setup"), made from one
// description per component: which atoms it shows, as what kind of control, with which choices
// and limits, and under which codec a field applies. The dialog reads the atoms of the settings
// (a missing atom shows the component's own default) and writes every field that applies back
// on OK; fields of codecs not chosen leave their atoms as they were.
//
// COutputDialogs is the dialog host handed to the components: a built-in component asks it for
// its dialog; a plug-in component shows its own.
//
// GUI thread only.
#pragma once

#include "platform/movies/atom_container.h"
#include "platform/movies/export/movie_exporter.h"

#include <QDialog>

#include <cstdint>
#include <vector>

class QFormLayout;

namespace zef::output {

enum class FieldKind {
    Codec,     // a four-character code chosen from a list (32-bit atom)
    Choice16,  // a 16-bit value chosen from a list
    Choice32,  // a 32-bit value chosen from a list
    Text,      // a zero-terminated text chosen from a list
    Number16,  // a 16-bit number
    KiloBits,  // a 32-bit bit rate in bits per second, edited in kbit/s (0: automatic)
    Enabled,   // a 16-bit flag shown as a check box
    FrameRate, // the frame rate of 'vide'/'tprl' (0: the movie's)
    Quality,   // the temporal quality of 'vide'/'tprl'
    KeyFrames, // the key-frame rate of 'vide'/'tprl' (0: the codec's)
};

struct FieldChoice {
    const char* text;
    uint32_t value = 0;
    const char* textValue = nullptr; // for FieldKind::Text
};

struct SettingField {
    SettingField(const char* label, movies::QTAtomType parent, movies::QTAtomType atom,
                 FieldKind kind, std::vector<FieldChoice> choices = {}, int minimum = 0,
                 int maximum = 0, uint32_t fallback = 0, std::vector<movies::OSType> onlyFor = {})
        : label(label), parent(parent), atom(atom), kind(kind), choices(std::move(choices)),
          minimum(minimum), maximum(maximum), fallback(fallback), onlyFor(std::move(onlyFor))
    {
    }
    const char* label;
    movies::QTAtomType parent; // 'vide' or 'soun'
    movies::QTAtomType atom;
    FieldKind kind;
    std::vector<FieldChoice> choices;
    int minimum = 0;
    int maximum = 0;
    uint32_t fallback = 0; // shown when neither the settings nor the defaults hold the atom
    // The field applies only while the codec field of the same parent holds one of these
    // (empty: always).
    std::vector<movies::OSType> onlyFor;
};

struct ExporterDialogDescription {
    movies::OSType subType;
    const char* title;
    std::vector<SettingField> fields;
};

// The description of a built-in component's dialog, or null.
const ExporterDialogDescription* exporterDialog(movies::OSType subType);

class CExportSettingsDialog : public QDialog {
    Q_OBJECT
public:
    // Shows the fields of description with the values of settings (else defaults).
    CExportSettingsDialog(const ExporterDialogDescription& description,
                          const movies::AtomContainer& settings,
                          const movies::AtomContainer& defaults, QWidget* parent = nullptr);

    // Writes the fields that apply into settings.
    void write(movies::AtomContainer& settings) const;
    // A field's control ("vide/codc", "soun/abrt", "vide/tprl/rate", ...) and whether it is
    // shown (applies to the chosen codec).
    QWidget* control(const QString& name) const;
    bool applies(const SettingField& field) const;

private:
    struct Row {
        const SettingField* field;
        QWidget* control;
        QFormLayout* form;
    };
    void updateRows();
    uint32_t codecOf(movies::QTAtomType parent) const;

    const ExporterDialogDescription& m_description;
    std::vector<Row> m_rows;
};

class COutputDialogs : public movies::ExporterDialogHost {
public:
    explicit COutputDialogs(QWidget* parent = nullptr) : m_parent(parent) {}
    bool runSettingsDialog(const movies::MovieExporter& exporter,
                           movies::AtomContainer& settings) override;

private:
    QWidget* m_parent;
};

} // namespace zef::output
