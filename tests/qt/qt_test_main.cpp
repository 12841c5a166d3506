// The main of the widget tests: one QApplication (offscreen unless a platform is set) for all
// tests, a private settings folder, then GoogleTest.
#include <gtest/gtest.h>

#include <QApplication>
#include <QStandardPaths>

#include <cstdlib>

namespace {

QtMessageHandler g_previous = nullptr;

// The offscreen platform cannot raise windows or grab the keyboard, and says so each time.
void quietPlatform(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (message.startsWith(QLatin1String("This plugin does not support"))) return;
    if (g_previous) g_previous(type, context, message);
}

} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QStandardPaths::setTestModeEnabled(true);
    g_previous = qInstallMessageHandler(quietPlatform);
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
