// The editor's recovery question at start-up and the "Restore from backup" menu, offscreen,
// with real CZefApp instances sharing one state folder.
#include "app/clipdeck/clip_deck.h"
#include "app/recovery/recovery_store.h"
#include "app/shell/main_bar.h"
#include "app/shell/recovery_session.h"
#include "app/shell/zef_app.h"
#include "model/device.h"
#include "model/project.h"
#include "tests/crashdriver/project_fingerprint.h"
#include "tests/movies/test_media.h"
#include "tests/shell/box_answerer.h"

#include <gtest/gtest.h>

#include <QMenu>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <filesystem>
#include <memory>

using namespace zef;
using namespace zef::app;

namespace {

class Recovery : public ::testing::Test {
protected:
    std::unique_ptr<CZefApp> start(const QStringList& args = {})
    {
        CZefApp::Options o;
        o.settingsFile = m_dir.filePath(QStringLiteral("settings.ini"));
        o.userFolder = m_dir.path();
        o.stateFolder = m_dir.filePath(QStringLiteral("state"));
        o.writeFileAssociation = false;
        qputenv("ZEF_DATA_DIR", ZEF_DATA_DIR);
        auto app = std::make_unique<CZefApp>(o);
        EXPECT_TRUE(app->startUp(args));
        return app;
    }
    // Ends the editor the way a crash leaves things for the next start: the project kept in
    // its recovery file, the session no longer locked.
    static void crash(std::unique_ptr<CZefApp>& app)
    {
        app->recovery()->autosaver()->snapshotNow();
        app->recovery()->autosaver()->flush();
        app.reset();
    }
    int questions() const
    {
        int n = 0;
        for (const auto& s : m_boxes.seen)
            n += s.title == QStringLiteral("Recover Project");
        return n;
    }
    std::string file(const char* name) const { return m_dir.filePath(name).toStdString(); }
    void save(CZefApp& app, const char* name)
    {
        if (app.project().untitled()) app.project().assumeFileName(file(name));
        app.saveProject();
        ASSERT_FALSE(app.project().modified);
    }

    QTemporaryDir m_dir;
    test::BoxAnswerer m_boxes;
};

} // namespace

TEST_F(Recovery, RecoveredProjectShowsModifiedWithItsOriginalPathUntilSaved)
{
    std::string edited;
    {
        auto app = start();
        FMainControl& deck = app->mainFrame().clipControl();
        deck.selectTrack(kTitleTrack);
        ASSERT_TRUE(deck.addTitle());
        save(*app, "show.ZEF");
        ASSERT_TRUE(deck.addTitle());
        edited = test::projectFingerprint(app->project());
        crash(app);
    }
    // Started on the saved file: the question comes first, and Recover wins over the file.
    m_boxes.answers[QStringLiteral("Recover Project")] = QMessageBox::Yes;
    auto app = start({QString::fromStdString(file("show.ZEF"))});
    ASSERT_EQ(questions(), 1);
    EXPECT_TRUE(m_boxes.seen[0].text.contains(QStringLiteral("\"show.ZEF\"")));
    FProject& p = app->project();
    EXPECT_EQ(test::projectFingerprint(p), edited);
    EXPECT_EQ(p.device(kTitleTrack).size(), 2u);
    EXPECT_TRUE(p.modified);
    EXPECT_EQ(p.fileName(), file("show.ZEF"));
    EXPECT_EQ(app->mainFrame().title(), QStringLiteral("show - ZEF Rondavo"));
    EXPECT_EQ(p.checkConsistency(), "");

    // Closing saves it (Yes to the question); then nothing is left to offer.
    m_boxes.answers[QStringLiteral("ZEF Rondavo")] = QMessageBox::Yes;
    ASSERT_TRUE(app->mainWindowClosing());
    app.reset();
    app = start({QString::fromStdString(file("show.ZEF"))});
    EXPECT_EQ(questions(), 1);
    EXPECT_EQ(test::projectFingerprint(app->project()), edited);
    EXPECT_FALSE(app->project().modified);
}

TEST_F(Recovery, UntitledRecoversAsUntitledAndDiscardForgetsIt)
{
    for (QMessageBox::StandardButton answer : {QMessageBox::Yes, QMessageBox::Discard}) {
        auto app = start();
        app->mainFrame().clipControl().selectTrack(kTitleTrack);
        ASSERT_TRUE(app->mainFrame().clipControl().addTitle());
        crash(app);
        m_boxes.seen.clear();
        m_boxes.answers[QStringLiteral("Recover Project")] = answer;
        app = start();
        ASSERT_EQ(questions(), 1);
        // Without a saved file there is nothing else to open.
        EXPECT_TRUE(
            m_boxes.seen[0].text.endsWith(QStringLiteral("Recover them, or discard them?")));
        FProject& p = app->project();
        EXPECT_TRUE(p.untitled());
        EXPECT_EQ(p.modified, answer == QMessageBox::Yes);
        EXPECT_EQ(p.device(kTitleTrack).size(), answer == QMessageBox::Yes ? 1u : 0u);
        p.modified = false;
        ASSERT_TRUE(app->mainWindowClosing());
    }
    m_boxes.seen.clear();
    auto app = start();
    EXPECT_EQ(questions(), 0);
}

TEST_F(Recovery, RestoreFromBackupListsTheEarlierVersionsAndReadsOneBack)
{
    auto app = start();
    FMainControl& deck = app->mainFrame().clipControl();
    deck.selectTrack(kTitleTrack);
    std::vector<std::string> versions;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(deck.addTitle());
        save(*app, "show.ZEF");
        versions.push_back(test::projectFingerprint(app->project()));
    }

    // The File Open Menu: New, Open, "Recent &File", "Restore from backup" with the two
    // versions the later saves replaced, newest first.
    QStringList entries, backups;
    QTimer::singleShot(50, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_TRUE(menu);
        for (QAction* a : menu->actions()) {
            entries << a->text();
            if (a->menu() && a->text() == QStringLiteral("Restore from backup"))
                for (QAction* b : a->menu()->actions())
                    backups << b->text();
        }
        menu->close();
    });
    app->mainFrame().mainBar().popupMenu(CMainBar::kFileOpenMenu);
    ASSERT_EQ(entries.size(), 4);
    EXPECT_EQ(entries[2], QStringLiteral("Recent &File"));
    EXPECT_EQ(entries[3], QStringLiteral("Restore from backup"));
    ASSERT_EQ(backups.size(), 2);
    EXPECT_TRUE(backups[0].startsWith(QStringLiteral("&1 ")));

    // Restoring the older one: the project as it was saved first, under its own name.
    const std::vector<recovery::Backup> kept =
        app->recovery()->store().backups(app->project().fileName());
    ASSERT_EQ(kept.size(), 2u);
    app->restoreBackup(kept[1]);
    EXPECT_EQ(test::projectFingerprint(app->project()), versions[0]);
    EXPECT_TRUE(app->project().modified);
    EXPECT_EQ(app->project().fileName(), file("show.ZEF"));
    EXPECT_EQ(app->project().device(kTitleTrack).size(), 1u);
}

TEST_F(Recovery, NoSnapshotIsTakenOfAProjectBeingRead)
{
    // A project whose clip on Layer B has gone: reading it asks about the clip when Layer A
    // is read already, and the event loop runs.
    const std::string clip = file("still.jpg");
    std::filesystem::copy_file(movies::testing::media::jpegStill(), clip);
    {
        auto app = start();
        FMainControl& deck = app->mainFrame().clipControl();
        ASSERT_TRUE(deck.addClip(movies::testing::media::jpegStill()));
        deck.selectTrack(kLayerB);
        ASSERT_TRUE(deck.addClip(clip));
        save(*app, "gone.ZEF");
        app->mainWindowClosing();
    }
    std::filesystem::remove(clip);
    QSettings(m_dir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat)
        .setValue(QStringLiteral("Recovery Preferences/AutosaveDelay"), 1);

    // A change whose autosave falls due while the other project is being read.
    auto app = start();
    app->mainFrame().clipControl().selectTrack(kTitleTrack);
    ASSERT_TRUE(app->mainFrame().clipControl().addTitle());
    ASSERT_EQ(app->openFromArgument(file("gone.ZEF")), 1);
    EXPECT_GE(m_boxes.seen.size(), 1u);
    EXPECT_EQ(app->recovery()->autosaver()->generation(), 0);
}
