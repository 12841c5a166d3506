#include "platform/movies/components.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

using namespace zef::movies;

namespace {

// A built-in component that answers a fixed set of selectors and records what it saw.
struct Log {
    int opens = 0;
    int closes = 0;
    ComponentInstance lastTarget = -1;
};

class Answering : public ComponentImplementation {
public:
    Answering(Log* log, std::map<int16_t, ComponentResult> answers, OSErr openResult = noErr)
        : m_log(log), m_answers(std::move(answers)), m_openResult(openResult)
    {
    }
    ComponentResult dispatch(ComponentCall& call, ComponentManager&) override
    {
        switch (call.selector) {
        case kComponentOpenSelect:
            ++m_log->opens;
            return m_openResult;
        case kComponentCloseSelect:
            ++m_log->closes;
            return noErr;
        case kComponentTargetSelect:
            m_log->lastTarget = call.params[0];
            return noErr;
        case kComponentCanDoSelect:
            return m_answers.count(int16_t(call.params[0])) ? 1 : badComponentSelector;
        default: {
            auto it = m_answers.find(int16_t(call.selector));
            if (it == m_answers.end()) return badComponentSelector;
            return it->second + (call.paramCount ? ComponentResult(call.params[0]) : 0);
        }
        }
    }

private:
    Log* m_log;
    std::map<int16_t, ComponentResult> m_answers;
    OSErr m_openResult;
};

ComponentFactory answering(Log* log, std::map<int16_t, ComponentResult> answers,
                           OSErr openResult = noErr)
{
    return [=] { return std::make_unique<Answering>(log, answers, openResult); };
}

ComponentDescription desc(const char (&type)[5], const char (&sub)[5], const char (&manu)[5],
                          uint32_t flags = 0, uint32_t mask = 0)
{
    return {fourcc(type), fourcc(sub), fourcc(manu), flags, mask};
}

std::filesystem::path tempDir(const char* name)
{
    const char* base = std::getenv("ZEF_TEST_TMP");
    auto dir =
        std::filesystem::path(base ? base : std::filesystem::temp_directory_path().string()) / name;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

} // namespace

TEST(ComponentSearch, WildcardsFlagsUnderMaskAndOrder)
{
    ComponentManager cm;
    Log log;
    const Component a =
        cm.registerComponent(desc("imdc", "dslv", "appl", 0x20), "A", "", 1, answering(&log, {}));
    const Component b =
        cm.registerComponent(desc("imdc", "dslv", "zefa", 0x420), "B", "", 1, answering(&log, {}));
    const Component c =
        cm.registerComponent(desc("imdc", "gain", "appl", 0), "C", "", 1, answering(&log, {}));
    const Component d = cm.registerComponent(desc("spit", "MooV", "appl", 0), "D", "info D", 7,
                                             answering(&log, {}));

    const ComponentDescription anyDecompressor{fourcc("imdc"), 0, 0, 0, 0};
    EXPECT_EQ(cm.findNextComponent(0, anyDecompressor), a);
    EXPECT_EQ(cm.findNextComponent(a, anyDecompressor), b);
    EXPECT_EQ(cm.findNextComponent(b, anyDecompressor), c);
    EXPECT_EQ(cm.findNextComponent(c, anyDecompressor), 0u);
    EXPECT_EQ(cm.countComponents(anyDecompressor), 3);

    EXPECT_EQ(cm.countComponents({0, 0, fourcc("appl"), 0, 0}), 3);
    EXPECT_EQ(cm.countComponents({}), 4) << "all zero matches everything";
    EXPECT_EQ(cm.findNextComponent(0, {0, fourcc("dslv"), fourcc("zefa"), 0, 0}), b);

    // Flags compare only under the mask of the description looked for.
    EXPECT_EQ(cm.findNextComponent(0, {fourcc("imdc"), 0, 0, 0x400, 0x400}), b);
    EXPECT_EQ(cm.countComponents({fourcc("imdc"), 0, 0, 0x400, 0x400}), 1);
    EXPECT_EQ(cm.countComponents({0, 0, 0, 0, 0x400}), 3) << "flag clear: A, C and D";
    EXPECT_EQ(cm.countComponents({fourcc("imdc"), 0, 0, 0x20, 0x20}), 2) << "A and B";
    EXPECT_EQ(cm.countComponents({fourcc("imdc"), 0, 0, 0xFFFF, 0}), 3) << "no mask, no test";

    ComponentInfo info;
    ASSERT_EQ(cm.getComponentInfo(d, info), noErr);
    EXPECT_EQ(info.name, "D");
    EXPECT_EQ(info.info, "info D");
    EXPECT_EQ(info.version, 7u);
    EXPECT_EQ(info.description, desc("spit", "MooV", "appl"));
    EXPECT_EQ(cm.getComponentInfo(999, info), invalidComponentID);

    ASSERT_EQ(cm.unregisterComponent(b), noErr);
    EXPECT_EQ(cm.findNextComponent(a, anyDecompressor), c);
    EXPECT_EQ(cm.findNextComponent(b, anyDecompressor), 0u) << "an unregistered start ends";
    EXPECT_EQ(cm.unregisterComponent(b), invalidComponentID);
}

TEST(ComponentCalls, OpenCallCloseAndBadInstances)
{
    ComponentManager cm;
    Log log;
    const Component c = cm.registerComponent(desc("imdc", "test", "zefa"), "T", "", 0x10002,
                                             answering(&log, {{5, 100}}));
    ComponentInstance ci = 0;
    ASSERT_EQ(cm.openComponent(c, &ci), noErr);
    EXPECT_EQ(log.opens, 1);
    EXPECT_TRUE(cm.isOpen(ci));
    EXPECT_EQ(cm.componentOf(ci), c);
    EXPECT_EQ(cm.call(ci, 5, {23}), 123);
    EXPECT_EQ(cm.call(ci, 6), badComponentSelector);
    EXPECT_EQ(cm.call(ci, 5, {1, 2, 3, 4, 5, 6, 7, 8, 9}), paramErr) << "too many parameters";
    EXPECT_TRUE(cm.canDo(ci, 5));
    EXPECT_FALSE(cm.canDo(ci, 6));
    EXPECT_EQ(cm.version(ci), 0x10002) << "no Version call: the registered version";
    EXPECT_EQ(cm.unregisterComponent(c), validInstancesExist);

    EXPECT_EQ(cm.setTarget(ci, 77), noErr);
    EXPECT_EQ(log.lastTarget, 77);
    EXPECT_EQ(cm.target(ci), 77);

    ASSERT_EQ(cm.closeComponent(ci), noErr);
    EXPECT_EQ(log.closes, 1);
    EXPECT_EQ(cm.call(ci, 5, {1}), badComponentInstance);
    EXPECT_EQ(cm.closeComponent(ci), badComponentInstance);
    EXPECT_EQ(cm.call(12345, 5), badComponentInstance);
    EXPECT_EQ(cm.openComponent(999, &ci), invalidComponentID);
    EXPECT_EQ(cm.unregisterComponent(c), noErr);
}

TEST(ComponentCalls, RefusedOpenClosesAgain)
{
    ComponentManager cm;
    Log log;
    const Component c = cm.registerComponent(desc("sdec", "fail", "zefa"), "F", "", 0,
                                             answering(&log, {}, memFullErr));
    ComponentInstance ci = 99;
    EXPECT_EQ(cm.openComponent(c, &ci), memFullErr);
    EXPECT_EQ(ci, 0);
    EXPECT_EQ(log.closes, 1) << "Close lets the component release what Open made";
    EXPECT_EQ(cm.openInstanceCount(c), 0);
    EXPECT_EQ(cm.openDefaultComponent(fourcc("none"), 0, &ci), badComponentType);
}

TEST(ComponentCalls, ClosingItselfDuringACallIsDeferred)
{
    struct SelfClosing : ComponentImplementation {
        int* closes;
        explicit SelfClosing(int* c) : closes(c) {}
        ComponentResult dispatch(ComponentCall& call, ComponentManager& cm) override
        {
            if (call.selector == kComponentCloseSelect) ++*closes;
            if (call.selector != 20) return call.selector < 0 ? noErr : badComponentSelector;
            const OSErr err = cm.closeComponent(call.instance);
            // Still alive here: the object is released when this call returns.
            return err == noErr && !cm.isOpen(call.instance) ? 7 : -1;
        }
    };
    ComponentManager cm;
    int closes = 0;
    const Component c = cm.registerComponent(desc("clos", "self", "zefa"), "S", "", 0, [&] {
        return std::make_unique<SelfClosing>(&closes);
    });
    ComponentInstance ci = 0;
    ASSERT_EQ(cm.openComponent(c, &ci), noErr);
    EXPECT_EQ(cm.call(ci, 20), 7);
    EXPECT_EQ(closes, 1);
    EXPECT_FALSE(cm.isOpen(ci));
    EXPECT_EQ(cm.openInstanceCount(c), 0);
    EXPECT_EQ(cm.call(ci, 20), badComponentInstance);
}

TEST(ComponentCalls, DelegationChainsAndCycles)
{
    ComponentManager cm;
    Log baseLog, derivedLog;
    const Component base = cm.registerComponent(desc("imdc", "base", "appl"), "Base", "", 0,
                                                answering(&baseLog, {{10, 1000}, {11, 1100}}));
    const Component derived = cm.registerComponent(desc("imdc", "ZEFx", "krvI"), "Derived", "", 0,
                                                   answering(&derivedLog, {{11, 2100}}));
    ComponentInstance b = 0, d = 0;
    ASSERT_EQ(cm.openComponent(base, &b), noErr);
    ASSERT_EQ(cm.openDefaultComponent(fourcc("imdc"), fourcc("ZEFx"), &d), noErr);
    EXPECT_EQ(cm.componentOf(d), derived);

    EXPECT_EQ(cm.call(d, 10), badComponentSelector) << "no delegate yet";
    ASSERT_EQ(cm.setDelegate(d, b), noErr);
    EXPECT_EQ(cm.call(d, 10, {5}), 1005) << "unhandled: answered by the delegate";
    EXPECT_EQ(cm.call(d, 11), 2100) << "handled selectors stay with the instance";
    EXPECT_TRUE(cm.canDo(d, 10));
    EXPECT_EQ(cm.call(d, 12), badComponentSelector);
    ComponentCall explicitCall{};
    explicitCall.selector = 11;
    EXPECT_EQ(cm.delegateCall(d, explicitCall), 1100) << "a component passing a call on";
    EXPECT_EQ(explicitCall.instance, d);

    // A component that answers the 16-bit form of the error delegates all the same.
    struct Short : ComponentImplementation {
        ComponentResult dispatch(ComponentCall& call, ComponentManager&) override
        {
            return call.selector < 0 ? noErr : badComponentSelectorShort;
        }
    };
    const Component shortOne = cm.registerComponent(desc("spit", "shrt", "zefa"), "S", "", 0,
                                                    [] { return std::make_unique<Short>(); });
    ComponentInstance s = 0;
    ASSERT_EQ(cm.openComponent(shortOne, &s), noErr);
    EXPECT_EQ(cm.call(s, 10), badComponentSelectorShort);
    ASSERT_EQ(cm.setDelegate(s, b), noErr);
    EXPECT_EQ(cm.call(s, 10), 1000);

    // A cycle ends with badComponentSelector instead of recursing forever.
    ASSERT_EQ(cm.setDelegate(b, d), noErr);
    EXPECT_EQ(cm.call(d, 99), badComponentSelector);
    EXPECT_EQ(cm.setDelegate(b, b), paramErr);

    // Closing the delegate leaves the other without one.
    ASSERT_EQ(cm.closeComponent(b), noErr);
    EXPECT_EQ(cm.delegate(d), 0);
    EXPECT_EQ(cm.call(d, 10), badComponentSelector);
}

namespace {
// Keeps the services it is opened with and uses them: selector 1 opens, calls (selector 7 with
// its parameter) and closes the first 'test'/'CALL' component; selector 2 shows a message.
class ServiceUser : public ComponentImplementation {
public:
    ComponentResult dispatch(ComponentCall& call, ComponentManager&) override
    {
        switch (call.selector) {
        case kComponentOpenSelect:
            m_host = call.paramCount >= 2
                         ? reinterpret_cast<const ZefComponentHost*>(call.params[1])
                         : nullptr;
            return m_host ? noErr : paramErr;
        case kComponentCloseSelect:
            return noErr;
        case 1: {
            intptr_t other = 0;
            OSErr err =
                m_host->openComponent(m_host->context, fourcc("test"), fourcc("CALL"), 0, &other);
            if (err != noErr) return err;
            ZefComponentCall inner{};
            inner.selector = 7;
            inner.paramCount = 1;
            inner.params[0] = call.params[0];
            const ComponentResult r = m_host->callComponent(m_host->context, other, &inner);
            m_host->closeComponent(m_host->context, other);
            return r;
        }
        case 2:
            return m_host->alert(m_host->context, "Title", "Text");
        default:
            return badComponentSelector;
        }
    }

private:
    const ZefComponentHost* m_host = nullptr;
};
} // namespace

// Components reach the manager's services from the block they are opened with; the message
// box is the program's, answered 0 when it has none.
TEST(ComponentCalls, ServicesGivenWithOpen)
{
    ComponentManager cm;
    Log log;
    const Component user = cm.registerComponent(desc("test", "USER", "zefT"), "User", "", 1,
                                                [] { return std::make_unique<ServiceUser>(); });
    const Component callee = cm.registerComponent(desc("test", "CALL", "zefT"), "Callee", "", 1,
                                                  answering(&log, {{7, 100}}));
    ComponentInstance ci = 0;
    ASSERT_EQ(cm.openComponent(user, &ci), noErr);
    EXPECT_EQ(cm.call(ci, 1, {5}), 105);
    EXPECT_EQ(log.opens, 1);
    EXPECT_EQ(cm.openInstanceCount(callee), 0);

    EXPECT_EQ(cm.call(ci, 2), 0);
    std::string shown;
    cm.setAlertHandler([&](const std::string& title, const std::string& text) {
        shown = title + ": " + text;
        return true;
    });
    EXPECT_EQ(cm.call(ci, 2), 1);
    EXPECT_EQ(shown, "Title: Text");
}

TEST(PluginComponents, LoadCallAndStorage)
{
    ComponentManager cm;
    std::vector<Component> ids;
    ASSERT_EQ(cm.registerPluginFile(ZEF_TEST_PLUGIN_GOOD_PATH, &ids), noErr);
    ASSERT_EQ(ids.size(), 2u);
    ComponentInfo info;
    ASSERT_EQ(cm.getComponentInfo(ids[0], info), noErr);
    EXPECT_EQ(info.name, "Test Adder");
    EXPECT_EQ(info.info, "Adds numbers");
    EXPECT_EQ(info.description, desc("imdc", "TEST", "zefT", 0x420));
    EXPECT_EQ(info.file, ZEF_TEST_PLUGIN_GOOD_PATH);
    EXPECT_EQ(cm.findNextComponent(0, {fourcc("imdc"), 0, 0, 0x400, 0x400}), ids[0]);

    std::vector<Component> again;
    ASSERT_EQ(cm.registerPluginFile(ZEF_TEST_PLUGIN_GOOD_PATH, &again), noErr);
    EXPECT_TRUE(again.empty()) << "a file loaded already is not listed twice";
    EXPECT_EQ(cm.countComponents({0, fourcc("TEST"), 0, 0, 0}), 2);

    ComponentInstance one = 0, two = 0;
    ASSERT_EQ(cm.openComponent(ids[0], &one), noErr);
    ASSERT_EQ(cm.openComponent(ids[0], &two), noErr);
    EXPECT_NE(cm.storage(one), nullptr) << "Open stored its storage through the call block";
    EXPECT_EQ(cm.call(one, 1, {40, 2}), 42);
    EXPECT_EQ(cm.call(one, 2), 1);
    EXPECT_EQ(cm.call(one, 2), 2);
    EXPECT_EQ(cm.call(two, 2), 1) << "each instance has its own storage";
    EXPECT_EQ(cm.call(one, 99), badComponentSelector);
    EXPECT_EQ(int16_t(cm.call(one, 99)), -32766) << "the 16-bit reading of the same result";
    EXPECT_EQ(cm.version(one), 0x00020001);
    EXPECT_TRUE(cm.canDo(one, 1));
    EXPECT_FALSE(cm.canDo(one, 7));

    ComponentInstance plain = 0;
    ASSERT_EQ(cm.openComponent(ids[1], &plain), noErr);
    EXPECT_EQ(cm.version(plain), 0x00010000) << "no Version selector: registered version";
    // A built-in component delegating to a plug-in one.
    Log log;
    const Component wrapper =
        cm.registerComponent(desc("imdc", "wrap", "zefa"), "W", "", 0, answering(&log, {}));
    ComponentInstance w = 0;
    ASSERT_EQ(cm.openComponent(wrapper, &w), noErr);
    ASSERT_EQ(cm.setDelegate(w, one), noErr);
    EXPECT_EQ(cm.call(w, 1, {2, 3}), 5);
    EXPECT_EQ(cm.closeComponent(one), noErr);
    EXPECT_EQ(cm.storage(one), nullptr);
    // The manager closes what is left open (two, plain, w) when it goes away.
}

TEST(PluginComponents, BrokenFilesAreRefusedWithCodes)
{
    ComponentManager cm;
    std::vector<Component> ids;
    EXPECT_EQ(cm.registerPluginFile(ZEF_TEST_PLUGIN_MISSING_ENTRY_PATH, &ids),
              componentDllEntryNotFoundErr);
    EXPECT_TRUE(ids.empty()) << "all or nothing: the good entry is not registered either";
    EXPECT_EQ(cm.registerPluginFile(ZEF_TEST_PLUGIN_NO_TABLE_PATH, &ids),
              componentDllEntryNotFoundErr);
    EXPECT_EQ(cm.registerPluginFile("/nonexistent/plugin.so", &ids), fnfErr);
    EXPECT_EQ(cm.countComponents({}), 0);

    const auto dir = tempDir("plugin_folder");
    std::filesystem::copy_file(ZEF_TEST_PLUGIN_GOOD_PATH, dir / "good.so");
    std::ofstream(dir / "garbage.so") << "not a shared library";
    std::ofstream(dir / "notes.txt") << "ignored";
    EXPECT_EQ(cm.registerPluginFile((dir / "garbage.so").string()), componentDllLoadErr);
    std::vector<std::pair<std::string, OSErr>> failures;
    EXPECT_EQ(cm.registerPluginFolder(dir.string(), &failures), 2);
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].second, componentDllLoadErr);
    EXPECT_EQ(cm.countComponents({0, fourcc("TEST"), 0, 0, 0}), 2);
}
