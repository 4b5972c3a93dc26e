// Game metadata: registration of the 28 locked cvars, the metadata file
// reader (required fields, derived package id, key case, unknown and
// invalid lines, store-publishing keys) and the derived orientation values.
#include <gtest/gtest.h>

#include "log_capture.h"
#include "temp_vfs.h"

#include <physfs.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "config/cvar.h"
#include "config/metadata.h"
#include "log/log.h"

namespace {

// The log is initialised but not ready, so every entry is kept.
class MetadataTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        cvar_quit();
        ASSERT_TRUE(log_init());
        ASSERT_TRUE(register_metadata_cvars());
        drain();
    }
    void TearDown() override
    {
        log_quit();
        cvar_quit();
    }

    std::vector<logged> drain() { return drain_log(); }

    static std::vector<std::string> at_level(const std::vector<logged> &entries, Uint32 level)
    {
        std::vector<std::string> out;
        for (const auto &e : entries) {
            if (e.level == level) {
                out.push_back(e.message);
            }
        }
        return out;
    }

    static std::string write_file(const std::string &name, const std::string &content)
    {
        std::ofstream(temp_root + "/" + name, std::ios::binary) << content;
        return name;
    }
};

const char *const all_names[] = {
    "game_metadata.devid", "game_metadata.devtitle", "game_metadata.gameid", "game_metadata.gametitle",
    "game_metadata.version", "game_metadata.icon", "game_metadata.readme", "game_metadata.deployment",
    "game_metadata.compile_ruby", "game_metadata.packageid", "game_metadata.vrmode", "game_metadata.hd",
    "game_metadata.allscreen", "game_metadata.hd_letterbox", "game_metadata.hd_max_scale",
    "game_metadata.allscreen_max_scale", "game_metadata.scale_quality", "game_metadata.highdpi",
    "game_metadata.orientation", "game_metadata.sprites_directory", "game_metadata.remote_hotload",
    "game_metadata.ignore_directories", "game_metadata.ignore_directories_recursively",
    "game_metadata.orientation_android", "game_metadata.orientation_ios", "game_metadata.orientation_both",
    "game_metadata.orientation_on_startup", "game_metadata.orientation_current",
};

void count_callback(void *context, const char *, const char *, unsigned)
{
    ++*(int *)context;
}

TEST_F(MetadataTest, RegistersTwentyEightLockedCvarsWithDefaults)
{
    int registered = 0;
    cvar_set_register_callback(count_callback, &registered);
    cvar_set_register_callback(nullptr, nullptr);
    EXPECT_EQ(registered, 28);
    for (const char *name : all_names) {
        EXPECT_EQ(cvar_islocked(name), 1) << name;
    }

    EXPECT_STREQ(cvar_game_metadata_devid, "moonforge");
    EXPECT_STREQ(cvar_game_metadata_devtitle, "Moonforge LLC");
    EXPECT_STREQ(cvar_game_metadata_gameid, "hello-SDL");
    EXPECT_STREQ(cvar_game_metadata_version, "1.0");
    EXPECT_STREQ(cvar_game_metadata_icon, "metadata/icon.png");
    EXPECT_STREQ(cvar_game_metadata_readme, "");
    EXPECT_STREQ(cvar_game_metadata_orientation, "landscape");
    EXPECT_STREQ(cvar_game_metadata_sprites_directory, "sprites");
    EXPECT_STREQ(cvar_game_metadata_orientation_current, "landscape");
    EXPECT_EQ(cvar_game_metadata_hd_letterbox, 1);
    EXPECT_EQ(cvar_game_metadata_allscreen_max_scale, 100);
    EXPECT_EQ(cvar_game_metadata_hd, 0);
    EXPECT_EQ(cvar_get_int("game_metadata.scale_quality"), &cvar_game_metadata_scale_quality);
    EXPECT_EQ(cvar_get_bool("game_metadata.orientation_both"), &cvar_game_metadata_orientation_both);

    const char *desc = nullptr;
    cvar_get("game_metadata.orientation_on_startup", nullptr, &desc);
    EXPECT_STREQ(desc, "The orientation of the game when it start up. If orientation is set to "
                       "\"landspape,portrait\", then the value will be \"landscape\".");

    EXPECT_EQ(cvar_set("game_metadata.gameid", "other"), 0);
    EXPECT_STREQ(cvar_game_metadata_gameid, "hello-SDL");
}

TEST_F(MetadataTest, MissingRequiredFieldsAreReportedAndPackageIdDerived)
{
    const auto path = write_file("only_two.txt", "gameid=mygame\ngametitle=My Game\n");
    EXPECT_EQ(load_metadata(path.c_str()), 0);
    const auto entries = drain();
    EXPECT_EQ(at_level(entries, LOG_LEVEL_ERROR),
              (std::vector<std::string>{"Metadata file does not have all required fields!"}));
    EXPECT_TRUE(at_level(entries, LOG_LEVEL_WARN).empty());
    EXPECT_STREQ(cvar_game_metadata_gameid, "mygame");
    EXPECT_STREQ(cvar_game_metadata_gametitle, "My Game");
    EXPECT_STREQ(cvar_game_metadata_packageid, "org.moonforge.mygame");
    for (const char *name : all_names) {
        EXPECT_EQ(cvar_islocked(name), 1) << name;
    }

    // An empty file leaves the defaults and reports the same error.
    const auto empty = write_file("empty.txt", "");
    EXPECT_EQ(load_metadata(empty.c_str()), 0);
    EXPECT_EQ(at_level(drain(), LOG_LEVEL_ERROR),
              (std::vector<std::string>{"Metadata file does not have all required fields!"}));
    EXPECT_STREQ(cvar_game_metadata_gameid, "hello-SDL");
    EXPECT_STREQ(cvar_game_metadata_packageid, "org.moonforge.hello-SDL");
}

TEST_F(MetadataTest, CompleteFilesReadKeysIgnoringCase)
{
    struct {
        const char *content;
        const char *packageid;
    } cases[] = {
        {"DevId=acme\r\nDEVTITLE = Acme Inc\r\nGameId=rocket\r\nGameTitle=My Game\r\nVersion=2.1\r\n"
         "PackageId=com.example.game\r\nHD=true\r\nScale_Quality=2\r\nOrientation=portrait\r\n",
         "com.example.game"},
        {"devid=acme\ndevtitle=Acme Inc\ngameid=rocket\ngametitle=My Game\nversion=2.1\n"
         "hd=1\nscale_quality=2\norientation=portrait\n",
         "org.acme.rocket"},
    };
    int n = 0;
    for (const auto &c : cases) {
        const auto path = write_file("complete" + std::to_string(n++) + ".txt", c.content);
        EXPECT_EQ(load_metadata(path.c_str()), 1) << path;
        const auto entries = drain();
        EXPECT_TRUE(at_level(entries, LOG_LEVEL_ERROR).empty()) << path;
        EXPECT_TRUE(at_level(entries, LOG_LEVEL_WARN).empty()) << path;
        EXPECT_STREQ(cvar_game_metadata_devid, "acme");
        EXPECT_STREQ(cvar_game_metadata_devtitle, "Acme Inc");
        EXPECT_STREQ(cvar_game_metadata_gametitle, "My Game");
        EXPECT_STREQ(cvar_game_metadata_version, "2.1");
        EXPECT_STREQ(cvar_game_metadata_packageid, c.packageid);
        EXPECT_EQ(cvar_game_metadata_hd, 1);
        EXPECT_EQ(cvar_game_metadata_scale_quality, 2);
        EXPECT_STREQ(cvar_game_metadata_orientation, "portrait");
    }

    // Every load starts from the defaults again.
    const auto path = write_file("reload.txt", "devid=a\ndevtitle=b\ngameid=c\ngametitle=d\nversion=e\n");
    EXPECT_EQ(load_metadata(path.c_str()), 1);
    EXPECT_EQ(cvar_game_metadata_hd, 0);
    EXPECT_EQ(cvar_game_metadata_scale_quality, 0);
    EXPECT_STREQ(cvar_game_metadata_orientation, "landscape");
    EXPECT_STREQ(cvar_game_metadata_packageid, "org.a.c");

    // A missing file changes nothing.
    EXPECT_EQ(load_metadata("no_such_metadata.txt"), 0);
    EXPECT_STREQ(cvar_game_metadata_devid, "a");
    EXPECT_TRUE(drain().empty());
}

TEST_F(MetadataTest, UnknownKeysAndInvalidLinesWarnAndAreSkipped)
{
    const auto path = write_file("odd.txt",
                                 "gameid=x\n"          // 1
                                 "deployment=true\n"   // 2: set by start-up only
                                 "not a pair\n"        // 3
                                 "=value\n"            // 4
                                 "# comment\n"         // 5
                                 "; other\n"           // 6
                                 "frobnicate = 1\n"    // 7
                                 "remote_hotload=1\n"  // 8
                                 "\n");
    EXPECT_EQ(load_metadata(path.c_str()), 0);
    const auto entries = drain();
    EXPECT_EQ(at_level(entries, LOG_LEVEL_WARN),
              (std::vector<std::string>{
                  "Unknown game metadata key 'deployment', ignoring",
                  "Invalid metadata on line 3, ignored",
                  "Invalid metadata on line 4, ignored",
                  "Unknown game metadata key 'frobnicate', ignoring",
                  "Unknown game metadata key 'remote_hotload', ignoring",
              }));
    EXPECT_EQ(cvar_game_metadata_deployment, 0);
    EXPECT_EQ(cvar_game_metadata_remote_hotload, 0);
    EXPECT_STREQ(cvar_game_metadata_gameid, "x");
}

TEST_F(MetadataTest, OrientationDerivesCurrentBothAndStartup)
{
    struct {
        const char *orientation;
        const char *current;
        Sint32 both;
    } cases[] = {
        {"portrait,landscape", "portrait", 1},
        {"landscape,portrait", "landscape", 1},
        {"portrait", "portrait", 0},
        {"landscape", "landscape", 0},
        {"Portrait,Landscape", "Portrait,Landscape", 0},
        {"", "", 0},
    };
    for (const auto &c : cases) {
        ASSERT_TRUE(cvar_force_set("game_metadata.orientation", c.orientation));
        metadata_derive_orientation();
        EXPECT_STREQ(cvar_game_metadata_orientation_current, c.current) << c.orientation;
        EXPECT_STREQ(cvar_game_metadata_orientation_on_startup, c.current) << c.orientation;
        EXPECT_EQ(cvar_game_metadata_orientation_both, c.both) << c.orientation;
        EXPECT_EQ(cvar_islocked("game_metadata.orientation_current"), 1);
        EXPECT_EQ(cvar_islocked("game_metadata.orientation_both"), 1);
        EXPECT_EQ(cvar_islocked("game_metadata.orientation_on_startup"), 1);
    }
}

TEST_F(MetadataTest, StorePublishingKeysEndTheProcess)
{
    struct {
        const char *content;
        const char *pattern;
    } cases[] = {
        {"gameid=x\nsteam.appid=1\n",
         "Steam publishing details in game_metadata.txt line 2!.*"
         "This info must be in steam_metadata.txt or they will be published with your game!.*"
         "Quitting now so you know to FIX THIS RIGHT NOW\\."},
        {"# c\n\nITCHIO.user = someone\n",
         "itch.io publishing details in game_metadata.txt line 3!.*"
         "This info must be in itchio_metadata.txt or they will be published with your game!.*"
         "Quitting now so you know to FIX THIS RIGHT NOW\\."},
    };
    int n = 0;
    for (const auto &c : cases) {
        const auto path = write_file("store" + std::to_string(n++) + ".txt", c.content);
        // The emergency quit prints the log to standard output; send it to
        // standard error where the death test looks.
        EXPECT_EXIT(
            {
                dup2(2, 1);
                load_metadata(path.c_str());
            },
            ::testing::ExitedWithCode(1), c.pattern);
    }
}

}  // namespace
