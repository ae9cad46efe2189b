#include <gtest/gtest.h>

#include <QSettings>
#include <cstdlib>

#include "app/settings.h"
#include "support/temp_dir.h"

namespace {

// Points QSettings at a scratch configuration folder for one test.
class ScratchConfig {
public:
    ScratchConfig()
    {
        ::setenv("XDG_CONFIG_HOME", m_dir.Path().c_str(), 1);
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(m_dir.Path()));
    }
    std::string File() const { return m_dir / "Tessaline/Orvellin.conf"; }

private:
    TempDir m_dir;
};

}  // namespace

TEST(Settings, FirstRunOpensHelpOnce)
{
    ScratchConfig config;
    int opened = 0;
    settings::FirstRunStep([&] { ++opened; });
    settings::FirstRunStep([&] { ++opened; });
    EXPECT_EQ(opened, 1);
    EXPECT_NE(ReadFileBytes(config.File()).find("FirstRun=0"), std::string::npos);

    // Any non-zero value is a first run again. (A file of another size: the
    // library's cache takes a file of the same size and second as unchanged.)
    WriteFileBytes(config.File(), "[Options]\nFirstRun=25\n");
    settings::FirstRunStep([&] { ++opened; });
    EXPECT_EQ(opened, 2);
    settings::FirstRunStep([&] { ++opened; });
    EXPECT_EQ(opened, 2);
}

TEST(Settings, FolderRoundTrip)
{
    ScratchConfig config;
    EXPECT_EQ(settings::LoadFolder(), "");
    settings::SaveFolder("/home/user/Movies/");
    EXPECT_EQ(settings::LoadFolder(), "/home/user/Movies/");
    EXPECT_NE(ReadFileBytes(config.File()).find("[Options]"), std::string::npos);
}

TEST(Settings, WindowValuesRoundTripInTheirOwnGroup)
{
    ScratchConfig config;
    EXPECT_EQ(settings::LoadWindowValue("SwfColumns"), "");
    settings::SaveWindowValue("SwfColumns", "35 125 70");
    settings::SaveFolder("/m/");
    EXPECT_EQ(settings::LoadWindowValue("SwfColumns"), "35 125 70");
    EXPECT_EQ(settings::LoadWindowValue("Folder"), "");
    EXPECT_NE(ReadFileBytes(config.File()).find("[Window]"), std::string::npos);
}
