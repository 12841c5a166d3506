#include "engine/effect_catalogue.h"
#include "engine/item_tracks.h"
#include "model/item.h"
#include "model/project.h"
#include "platform/movies/effects/effect_description.h"

#include <gtest/gtest.h>

#include <memory>

using namespace zef;
using namespace zef::movies;

namespace {

void noRender(const EffectContext&) {}

EffectDescriptor effect(FourCC code, const char* name, int32_t sources,
                        FourCC manufacturer = fourcc("test"))
{
    EffectDescriptor d;
    d.code = code;
    d.name = name;
    d.manufacturer = manufacturer;
    d.sources = sources;
    d.render = noRender;
    return d;
}

// Registered out of group order, so that the catalogue has to group them.
EffectRegistry mixedRegistry()
{
    EffectRegistry r;
    r.add(effect(fourcc("twoA"), "Wipe Left", 2));
    r.add(effect(fourcc("oneA"), "Sharpen", 1));
    r.add(effect(fourcc("zero"), "Noise", 0));
    r.add(effect(fourcc("twoB"), "Cross Fade", 2, fourcc("appl")));
    r.add(effect(fourcc("oneB"), "Soften", 1));
    r.add(effect(fourcc("twoC"), "Iris", 2));
    return r;
}

std::vector<std::string> names(const FEffectCatalogue& c)
{
    std::vector<std::string> out;
    for (const CPluginQT& e : c.entries())
        out.push_back(e.nameText());
    return out;
}

} // namespace

TEST(EffectCatalogue, BlackThenEffectsGroupedBySourceCount)
{
    EffectRegistry registry = mixedRegistry();
    FEffectCatalogue catalogue(registry);
    ASSERT_EQ(catalogue.buildCatalogue(), noErr);
    EXPECT_EQ(names(catalogue), (std::vector<std::string>{"Black", "Noise", "Sharpen", "Soften",
                                                          "Wipe Left", "Cross Fade", "Iris"}));
    const CPluginQT& black = catalogue.entries()[0];
    EXPECT_EQ(black.sources, 0);
    EXPECT_EQ(black.effectType, 0u);
    EXPECT_EQ(black.manufacturer, 0u);
    const CPluginQT& fade = catalogue.entries()[5];
    EXPECT_EQ(fade.sources, 2);
    EXPECT_EQ(fade.effectType, fourcc("twoB"));
    EXPECT_EQ(fade.manufacturer, fourcc("appl"));

    // Building again starts over.
    ASSERT_EQ(catalogue.buildCatalogue(), noErr);
    EXPECT_EQ(catalogue.entries().size(), 7u);
}

TEST(EffectCatalogue, FindIgnoresCaseAndFallsBackToTheLastEntry)
{
    EffectRegistry registry = mixedRegistry();
    FEffectCatalogue catalogue(registry);
    CPluginQT entry;
    EXPECT_FALSE(catalogue.findEffect("Cross Fade", entry));
    EXPECT_EQ(catalogue.findEffect("anything").effectType, 0u);
    EXPECT_EQ(catalogue.findEffect("anything").nameText(), "");

    ASSERT_EQ(catalogue.buildCatalogue(), noErr);
    for (const char* name : {"Cross Fade", "cross fade", "CROSS FADE", "cRoSs FaDe"})
        EXPECT_EQ(catalogue.findEffect(name).effectType, fourcc("twoB")) << name;
    EXPECT_EQ(catalogue.findEffect("black").nameText(), "Black");
    // Not a prefix match, and an unknown name gives the last entry.
    EXPECT_EQ(catalogue.findEffect("Cross").nameText(), "Iris");
    EXPECT_TRUE(catalogue.findEffect("Nope", entry));
    EXPECT_EQ(entry.effectType, fourcc("twoC"));
}

TEST(EffectCatalogue, EffectItemsTakeTheirEntryAndDefaultDescription)
{
    EffectRegistry registry = mixedRegistry();
    FEffectCatalogue catalogue(registry);
    ASSERT_EQ(catalogue.buildCatalogue(), noErr);
    FProject project;
    project.setEffectCatalogue(&catalogue);

    ZEFEffectItem item(&project, 0);
    EXPECT_EQ(item.transition()->effectInfo().effectType, fourcc("twoB"));
    catalogue.setEffect(item, "sharpen");
    EXPECT_EQ(item.name(), "sharpen");
    EXPECT_EQ(item.effectInfo().effectType, fourcc("oneA"));
    EXPECT_EQ(item.sourceCount(), 1);

    AtomContainer description;
    ASSERT_EQ(AtomContainer::fromHandle(item.effectDescription(), description), noErr);
    EffectDescriptionInfo info;
    ASSERT_EQ(readEffectDescription(description, info), noErr);
    EXPECT_EQ(info.effectType, fourcc("oneA"));
    EXPECT_EQ(info.sources, (std::vector<FourCC>{fourcc("srcA")}));

    // Without a registered component nothing is opened.
    EXPECT_EQ(item.componentInstance(), nullptr);
}

TEST(EffectCatalogue, OpensTheEffectsImageDecompressor)
{
    struct Codec : ComponentImplementation {
        ComponentResult dispatch(ComponentCall&, ComponentManager&) override { return noErr; }
    };
    ComponentManager components;
    ComponentDescription d;
    d.componentType = fourcc("imdc");
    d.componentSubType = fourcc("oneB");
    d.componentManufacturer = fourcc("othr");
    Component c = components.registerComponent(d, "Soften codec", "", 1,
                                               [] { return std::make_unique<Codec>(); });
    EffectRegistry registry = mixedRegistry();
    FEffectCatalogue catalogue(registry, &components);
    ASSERT_EQ(catalogue.buildCatalogue(), noErr);
    FProject project;
    project.setEffectCatalogue(&catalogue);

    auto item = std::make_unique<ZEFEffectItem>(&project, 0);
    catalogue.setEffect(*item, "Soften");
    ASSERT_NE(item->componentInstance(), nullptr);
    EXPECT_EQ(components.openInstanceCount(c), 1);
    catalogue.setEffect(*item, "Sharpen");
    EXPECT_EQ(item->componentInstance(), nullptr);
    EXPECT_EQ(components.openInstanceCount(c), 0);
    catalogue.setEffect(*item, "Soften");
    item.reset();
    EXPECT_EQ(components.openInstanceCount(c), 0);
}

namespace {

struct ScriptedDialog : ParameterDialog {
    bool canOpen = true;
    int opened = 0, dismissed = 0;
    std::vector<std::string> status;
    Handle edited; // what the dialog writes into the description
    bool open(ZEFEffectItem& item) override
    {
        if (!canOpen) return false;
        ++opened;
        if (!edited.isNull()) item.setEffectDescription(edited);
        return true;
    }
    void dismiss() override { ++dismissed; }
    void showStatus(const std::string& text) override { status.push_back(text); }
};

struct BuiltMarker : CompositionState {
    void setSize(int32_t, int32_t) override {}
    void setEnabled(bool) override {}
    void setOffset(const EditTime&) override {}
};

struct EditFixture : ::testing::Test {
    EffectRegistry registry = mixedRegistry();
    FEffectCatalogue catalogue{registry};
    FProject project;
    ScriptedDialog dialog;
    FParameterEditor editor{dialog};
    ZEFEffectItem* item = nullptr;

    void SetUp() override
    {
        ASSERT_EQ(catalogue.buildCatalogue(), noErr);
        project.setEffectCatalogue(&catalogue);
        auto owned = std::make_unique<ZEFEffectItem>(&project, 0);
        owned->setName("Noise");
        item = owned.get();
        project.addItem(std::move(owned), false, false);
        item->setComposition(std::make_unique<BuiltMarker>());
    }
};

} // namespace

TEST_F(EditFixture, OneEditAtATimeAndConfirmRebuildsTheLayer)
{
    dialog.edited = Handle("edited", 6);
    ASSERT_EQ(editor.editParameters(*item), S_OK);
    EXPECT_EQ(dialog.status, std::vector<std::string>{"Editting parameters on effect Noise"});
    EXPECT_EQ(item->effectDescription(), dialog.edited);
    EXPECT_TRUE(editor.editing());

    // A second edit, even of the same item, is refused.
    EXPECT_EQ(editor.editParameters(*item), E_FAIL);
    EXPECT_EQ(E_FAIL, int32_t(0x80004005u));
    EXPECT_EQ(dialog.opened, 1);

    EXPECT_TRUE(item->isBuilt());
    editor.endParameterEdit(true);
    EXPECT_EQ(dialog.dismissed, 1);
    EXPECT_FALSE(editor.editing());
    EXPECT_FALSE(item->isBuilt());
    EXPECT_EQ(item->effectDescription(), dialog.edited);

    // The next edit may start.
    EXPECT_EQ(editor.editParameters(*item), S_OK);
}

TEST_F(EditFixture, CancelKeepsTheDescriptionAndTheBuiltTracks)
{
    dialog.edited = Handle("half", 4);
    ASSERT_EQ(editor.editParameters(*item), S_OK);
    editor.endParameterEdit(false);
    EXPECT_TRUE(item->isBuilt());
    EXPECT_EQ(item->effectDescription(), dialog.edited);
    EXPECT_EQ(dialog.dismissed, 1);
    editor.endParameterEdit(true); // no edit open: nothing happens
    EXPECT_EQ(dialog.dismissed, 1);
    EXPECT_TRUE(item->isBuilt());
}

TEST_F(EditFixture, ConfirmingAFilterRebuildsItsOwner)
{
    auto filter = std::make_unique<ZEFEffectItem>(&project, 0, item);
    filter->setName("Soften");
    ZEFEffectItem* f = filter.get();
    item->addFilter(std::move(filter));
    item->setComposition(std::make_unique<BuiltMarker>());
    ASSERT_EQ(editor.editParameters(*f), S_OK);
    editor.endParameterEdit(true);
    EXPECT_FALSE(item->isBuilt());
}

TEST_F(EditFixture, ADialogThatCannotBeCreatedLeavesNoEditOpen)
{
    dialog.canOpen = false;
    EXPECT_EQ(editor.editParameters(*item), E_FAIL);
    EXPECT_FALSE(editor.editing());
    dialog.canOpen = true;
    EXPECT_EQ(editor.editParameters(*item), S_OK);
}
