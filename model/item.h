// Timeline items: the base item and the effect items (effects, transitions, filters, titles).
//
// Ownership: a track (FDevice) owns its items; an item owns its transition, its filters and
// its composition state. Items are not thread-safe; they are edited on the project's thread.
#pragma once

#include "model/edit_time.h"
#include "model/effect_lookup.h"
#include "model/project_links.h"
#include "platform/movies/handle.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zef::storage {
class StreamReader;
class StreamWriter;
} // namespace zef::storage

namespace zef {

class FProject;
class FDevice;
class ZEFEffectItem;

// Track indices.
enum : int32_t {
    kLayerA = 0,
    kLayerB = 1,
    kLayerC = 2,
    kGallery = 3,
    kTitleTrack = 4,
    kTrackCount = 5,
};

// Modes of trimStart / trimEnd.
enum TrimMode : int32_t {
    kTrimPush = 0, // push neighbours
    kTrimStop = 1, // stop at neighbours
    kTrimFree = 2, // no neighbour rules, no preview update
};

// The deck an item is edited in; the user interface builds it.
struct DeckRequest {
    enum Kind { None, ClipSettings, EffectSettings, Titler } kind = None;
    ZEFItem* item = nullptr; // the item the deck edits (a clip's transition for forTransition)
    int32_t resource = 0;    // 199 clip settings, 200 effect settings, 165 titler
};

class ZEFItem {
public:
    // An item without owner gets a "Cross Fade" transition. project may be null for an item
    // that belongs to no project (no notifications, no catalogue); transitions and filters
    // use their owner's project.
    ZEFItem(FProject* project, int32_t track, ZEFItem* owner = nullptr);

    // Virtual operations, in slot order.
    virtual bool activate();
    virtual ~ZEFItem();
    virtual std::string displayName() const { return m_name; }
    virtual void setName(const std::string& name) { m_name = name; }
    virtual void moveTo(EditTime t, bool push);
    virtual EditTime sourceToTimeline(const EditTime& t) const { return t; }
    virtual EditTime timelineToSource(const EditTime& t, bool /*clamp*/) const { return t; }
    virtual EditTime getStart() const { return m_start; }
    virtual EditTime getEnd() const { return m_end; }
    virtual void assignStart(const EditTime& t) { m_start = t; }
    virtual void assignEnd(const EditTime& t) { m_end = t; }
    // Records of the project file. load leaves a failed reader on malformed data (callers
    // check StreamReader::ok()).
    virtual void save(storage::StreamWriter& out) const;
    virtual void load(storage::StreamReader& in, int32_t version);
    virtual std::unique_ptr<ZEFItem> clone(ZEFItem* owner) const;
    virtual int32_t rateDenominator() const { return 1; }
    virtual int32_t rateNumerator() const { return 0; }
    virtual bool refreshThumbnail() { return false; }
    virtual EditTime earliestStart() const { return EditTime(); }
    // The latest possible end; false when there is no limit.
    virtual bool latestEnd(EditTime& /*out*/) const { return false; }
    virtual DeckRequest createDeck(bool forTransition);
    virtual void releaseComposition();
    virtual EditTime trimStart(EditTime t, int32_t mode, bool clamp);
    virtual EditTime trimEnd(EditTime t, int32_t mode, bool clamp);

    ZEFItem(const ZEFItem&) = delete;
    ZEFItem& operator=(const ZEFItem&) = delete;

    // Shifts this and every later item of the track by delta ticks (never before 0); returns
    // the delta applied to the last item.
    int32_t rippleShift(int32_t delta);
    // Shifts this item, pushing neighbours so that overlaps do not grow; returns delta.
    int32_t pushShift(int32_t delta);

    // The engine's tracks of this item.
    CompositionState* composition() const { return m_composition.get(); }
    void setComposition(std::unique_ptr<CompositionState> state)
    {
        m_composition = std::move(state);
    }
    bool isBuilt() const { return m_composition != nullptr; }
    void setTracksSize(int32_t width, int32_t height);
    void setTracksEnabled(bool enabled);
    void reoffsetTracks();

    // Fields.
    int32_t track() const { return m_track; }
    // Only for an item on no track (the project moves items between tracks).
    void setTrack(int32_t track);
    const std::string& name() const { return m_name; }
    EditTime duration() const { return m_end - m_start; }
    ZEFItem* owner() const { return m_owner; }
    FProject* project() const { return m_project; }
    int32_t graphicsMode() const { return m_graphicsMode; }
    void setGraphicsMode(int32_t mode) { m_graphicsMode = mode; }
    uint32_t graphicsModeColor() const { return m_graphicsModeColor; }
    void setGraphicsModeColor(uint32_t rgb) { m_graphicsModeColor = rgb; }

    ZEFEffectItem* transition() const { return m_transition.get(); }
    // Replaces the transition (which becomes owned by this item); returns the old one.
    std::unique_ptr<ZEFEffectItem> setTransition(std::unique_ptr<ZEFEffectItem> transition);
    size_t filterCount() const { return m_filters.size(); }
    ZEFEffectItem* filter(size_t i) const { return m_filters.at(i).get(); }
    void addFilter(std::unique_ptr<ZEFEffectItem> filter);
    std::unique_ptr<ZEFEffectItem> removeFilter(size_t i);

    // Placement, maintained by the track.
    FDevice* device() const { return m_device; }
    int32_t slot() const { return m_slot; }
    ZEFItem* previous() const;
    ZEFItem* next() const;

protected:
    // Reports a change of this item (or, for transitions and filters, of their owner) to the
    // project, when the item lies on one of its tracks.
    void reportChange(bool reoffsetOnly, bool refreshList = false);
    void previewAt(const EditTime& t);
    void shiftBy(int64_t delta);
    // The filters and transition of a clone.
    void cloneAttachments(ZEFItem& copy) const;
    bool isPlaced() const;

    int32_t m_track;
    std::string m_name;
    EditTime m_start;
    EditTime m_end;
    ZEFItem* m_owner;
    std::unique_ptr<CompositionState> m_composition;
    int32_t m_graphicsMode = -1;
    uint32_t m_graphicsModeColor = 0x808080;
    std::vector<std::unique_ptr<ZEFEffectItem>> m_filters;
    std::unique_ptr<ZEFEffectItem> m_transition;

    FProject* m_project;

private:
    friend class FDevice;
    FDevice* m_device = nullptr;
    int32_t m_slot = -1;
};

// A video effect: a transition, a filter or an item of its own.
class ZEFEffectItem : public ZEFItem {
public:
    ZEFEffectItem(FProject* project, int32_t track, ZEFItem* owner = nullptr);

    // Releases the component, takes the catalogue entry of that name (an empty entry when
    // there is none or no catalogue), builds the description and opens the component.
    void setName(const std::string& name) override;
    void save(storage::StreamWriter& out) const override;
    void load(storage::StreamReader& in, int32_t version) override;
    std::unique_ptr<ZEFItem> clone(ZEFItem* owner) const override;
    DeckRequest createDeck(bool forTransition) override;
    // Also closes the effect component. The description and parameters are kept: they are
    // the item's settings, not composition state.
    void releaseComposition() override;

    const CPluginQT& effectInfo() const { return m_effectInfo; }
    int32_t sourceCount() const { return m_effectInfo.sources; }
    EffectComponent* componentInstance() const { return m_component.get(); }
    const movies::Handle& effectDescription() const { return m_description; }
    void setEffectDescription(movies::Handle h) { m_description = std::move(h); }
    const movies::Handle& effectParameters() const { return m_parameters; }
    void setEffectParameters(movies::Handle h) { m_parameters = std::move(h); }
    // Opens the component again after a release (a no-op when open or without catalogue).
    void openComponent();

protected:
    const EffectLookup* catalogue() const;
    void copyEffectTo(ZEFEffectItem& copy) const;

    std::unique_ptr<EffectComponent> m_component;
    CPluginQT m_effectInfo;
    movies::Handle m_description;
    movies::Handle m_parameters;
};

// An RGB colour as the colour chooser returns it: 8 bits a component.
struct TitleColor {
    uint8_t red = 0, green = 0, blue = 0;
    friend bool operator==(const TitleColor&, const TitleColor&) = default;
};

// The style of a title, held in the title's effect description: a 96-byte little-endian record
// laid out as a C compiler aligns it (each field at a multiple of its size):
//   @0 font int16, @2 size int16, @4 style bits uint8, @5-7 zero, @8 text colour (red, green,
//   blue, 0), @12 justification int16, @14-15 zero, @16 display flags int32, @20 scroll delay
//   int16, @22 delay enabled int16, @24 shadow offset x int16, @26 y int16, @28 shadow opacity
//   int16, @30 use previous settings int16, @32 background colour (red, green, blue, 0), zero
//   to the end.
struct TitleStyle {
    int16_t font = 0;
    int16_t size = 36;
    uint8_t style = 0; // bold 1, italic 2, underline 4, outline 8; upper bits kept
    TitleColor textColor{255, 255, 255};
    int16_t justification = 1; // 0 default, -2 left, 1 centre, -1 right
    uint32_t displayFlags = 0;
    int16_t scrollDelay = 0; // percent of the title's duration
    int16_t delayEnabled = 0;
    int16_t shadowX = 2, shadowY = 2; // percent of the font size
    int16_t shadowOpacity = 255;
    int16_t usePrevious = 0;
    TitleColor backColor{0, 0, 0};

    static constexpr size_t kSize = 96;
    movies::Handle toHandle() const;
    // The style in a handle; defaults when the handle is shorter than kSize.
    static TitleStyle fromHandle(const movies::Handle& h);
};

// A title of the title track: the description holds its style, the parameters its text.
class ZEFTitlerEffect : public ZEFEffectItem {
public:
    ZEFTitlerEffect(FProject* project, int32_t track = kTitleTrack, ZEFItem* owner = nullptr);

    // The text up to the first carriage return, with "..." when cut; the name without text.
    std::string displayName() const override;
    // Sets the name and a default style record.
    void setName(const std::string& name) override;
    std::unique_ptr<ZEFItem> clone(ZEFItem* owner) const override;
    DeckRequest createDeck(bool forTransition) override;

    std::string text() const;
    void setText(const std::string& text);
    TitleStyle style() const { return TitleStyle::fromHandle(m_description); }
    void setStyle(const TitleStyle& style) { m_description = style.toHandle(); }
};

} // namespace zef
