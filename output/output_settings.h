// FOutputSettings: what the output settings deck does to the project's output settings (its
// composition template), without windows: the list of export components and the choice of one,
// the output file's extension, the edit frame rate, the output size with its aspect ratio, the
// check boxes, the render range, the component's own settings ("Component Setup"), the live
// broadcast settings ("Live Setup") and the template list (save, delete, switch).
//
// Every change goes into the project's composition (the project then counts as modified) and
// marks the shown template modified; the first change of a shown template gives it a new
// numbered name (bumpName), so an edited template never keeps the name it came from.
//
// GUI thread only (the project's thread). The project, the template list, the component manager
// and the user interface must outlive it.
#pragma once

#include "model/edit_time.h"
#include "model/project_template.h"
#include "platform/movies/atom_container.h"
#include "platform/movies/components.h"

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace zef {
class FProject;
class TemplateList;
class UserInterface;
namespace movies {
class ExporterDialogHost;
}
} // namespace zef

namespace zef::output {

// The edit frame rates of the list, 16.16: 1, 2, 3, 5, 8, 10, 12, 15, 20, 24, 25, 29.97, 30.
inline constexpr std::array<movies::Fixed, 13> kEditFrameRates = {
    1 << 16,  2 << 16,  3 << 16,  5 << 16,  8 << 16, 10 << 16, 12 << 16,
    15 << 16, 20 << 16, 24 << 16, 25 << 16, 1964113, 30 << 16};
inline constexpr std::array<const char*, 13> kEditFrameRateNames = {
    "1", "2", "3", "5", "8", "10", "12", "15", "20", "24", "25", "29.97", "30"};
// The entry of the list equal to rate, or -1.
int findFrameRate(movies::Fixed rate);

// The output size's limits (the largest pictures the exporters write).
constexpr int kMinWidth = 40, kMaxWidth = 8192;
constexpr int kMinHeight = 30, kMaxHeight = 4352;

// The file name with a new extension: everything from the last "." of the file's own name
// (not of a folder's) is replaced by "." and the code's characters up to its first zero byte;
// a name without a "." gets them appended. Unchanged when the code is empty, or the name is
// empty or starts with a blank.
std::string renewedExtension(const std::string& file, movies::OSType code);

// One export component of the list.
struct ExportComponent {
    movies::ComponentDescription description;
    std::string name;
};

// The server settings of the live-broadcast component, each a 'brdc' text atom.
struct ServerSettings {
    std::string port, server, title, author, copyright, user, password;
    friend bool operator==(const ServerSettings&, const ServerSettings&) = default;
};
ServerSettings readServerSettings(const movies::AtomContainer& settings);

// What "Live Setup" offers for a component.
enum class LiveSetup { None, FileURL, Server };

class FOutputSettings {
public:
    FOutputSettings(FProject& project, TemplateList& templates,
                    movies::ComponentManager& components, UserInterface& ui);

    const CProjectTemplate& current() const;
    // Takes the template as it is now: the aspect ratio from its size, not modified.
    void refresh();
    // While the deck fills its controls, the changes it makes to the template (a component
    // that is not installed replaced by the first one) do not count as the user's.
    void setFilling(bool on) { m_filling = on; }

    // ---- Export components
    // Lists every installed export component whose information can be read.
    void listComponents();
    const std::vector<ExportComponent>& components() const { return m_components; }
    // The entry the template names: the first with its subtype and its manufacturer (or any
    // manufacturer when that is 0); 0 when none matches, -1 when the list is empty.
    int componentIndex() const;
    // The component choice. The same component changes nothing. Another one takes the
    // template's export settings along when it is of the same subtype or manufacturer and
    // accepts them; otherwise the settings are dropped (and live broadcasting with them). The
    // output file gets the component's extension.
    void chooseComponent(int index);
    // Whether the template's component is the live-broadcast one, and what Live Setup offers.
    LiveSetup liveSetup() const;
    bool broadcastSwitchesEnabled() const;

    // ---- Output file
    void setOutputFile(const std::string& file);
    void renewExtension();

    // ---- Edit frame rate
    // The list's entry for the template's rate; 0 ("1") when it is none of them.
    int frameRateIndex() const;
    void chooseFrameRate(int index);

    // ---- Size and check boxes
    double aspect() const { return m_aspect; }
    // A typed width (widthEdited) or height: with "Maintain aspect ratio" the other side
    // follows; without, the aspect ratio is taken from the two. Returns the size stored.
    std::pair<int, int> editSize(int width, int height, bool widthEdited);
    void setKeepAspect(bool on);
    void setCropEnabled(bool on);
    void setFlatten(bool on);
    // Also stored in the export settings as 'brdc'/'on  '.
    void setBroadcastEnabled(bool on);

    // ---- Render range
    // The preview's current time snapped to whole frames of the edit rate.
    EditTime currentFrameTime() const;
    // The in-point limited to 0 .. the project's end; the out-point to the in-point .. the end.
    void setInPoint(const EditTime& t);
    void setOutPoint(const EditTime& t);

    // ---- The component's own settings
    enum class SetupResult { NoComponent, CannotOpen, Cancelled, Applied };
    // Opens the component, hands it the settings (with the edit frame rate written into them),
    // runs its settings dialog through host and takes the settings it answers. A frame rate of
    // the list found in them becomes the edit frame rate.
    SetupResult componentSetup(movies::ExporterDialogHost* host);
    // The component's own default settings as the template's (when it has none), with the edit
    // frame rate written into them; false when the component cannot be opened.
    bool applyDefaultSettings();

    // ---- Live Setup (only with export settings; see liveSetup())
    std::string fileURL() const;
    void setFileURL(const std::string& url);
    ServerSettings serverSettings() const;
    void setServerSettings(const ServerSettings& s);

    // ---- Templates
    bool modified() const { return m_modified; }
    void clearModified() { m_modified = false; }
    // The shown template is put into the list (asking about a name clash); its index, or -1.
    int showTemplateList();
    // Switches to the template at index: a modified template is offered for saving first.
    // Returns false when index is out of range.
    bool chooseTemplate(size_t index);
    // Saves the settings under name; the index holding them, or -1 when cancelled.
    int saveTemplate(const std::string& name);
    // Removes the user template of that name; returns the index to select afterwards (the
    // neighbour: the previous entry when it was the last), -1 when none is left or nothing was
    // removed.
    int deleteTemplate(const std::string& name);
    bool canDelete(const std::string& name) const;

    // Whether the deck shows its full form (the second preview flag).
    bool details() const;
    void setDetails(bool on);

private:
    // Applies a change to the composition, marks the project and the template modified.
    template <class F> void change(F&& f);
    void markModified();
    // Writes rate into settings ('vide'/'tprl' when present; for 'Real' the preset's rate);
    // true when the container changed.
    bool writeFrameRate(movies::AtomContainer& settings, movies::Fixed rate) const;
    bool settingsContainer(movies::AtomContainer& out) const;
    void storeSettings(const movies::AtomContainer& settings);
    movies::Component findComponent() const;

    FProject& m_project;
    TemplateList& m_templates;
    movies::ComponentManager& m_manager;
    UserInterface& m_ui;
    std::vector<ExportComponent> m_components;
    double m_aspect = 4.0 / 3.0;
    bool m_modified = false;
    bool m_filling = false;
};

} // namespace zef::output
