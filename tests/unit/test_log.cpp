// Logging: the start-up header, level and subsystem filtering before and
// after the log is ready, the published line format and colours, the log
// file name, rate limiting, multi-line messages, error suffixes, the
// emergency quit before any metadata exists and serialised publishing.
#include <gtest/gtest.h>

#include "log_capture.h"
#include "temp_vfs.h"

#include <fcntl.h>
#include <physfs.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "config/cvar.h"
#include "engine/version.h"
#include "log/log.h"

namespace {

std::string capture_stdout(const std::function<void()> &fn)
{
    fflush(stdout);
    char path[] = "/tmp/mf_stdout_XXXXXX";
    const int fd = mkstemp(path);
    const int saved = dup(1);
    dup2(fd, 1);
    fn();
    fflush(stdout);
    dup2(saved, 1);
    close(saved);
    close(fd);
    std::string out = read_real(path);
    unlink(path);
    return out;
}

// Each test starts from no cvars and an initialised log. Unless a test says
// otherwise the log writes neither a file nor standard output.
class LogTest : public ::testing::Test {
protected:
    void SetUp() override { restart({{"log.stdout", "false"}, {"log.filename", ""}}); }
    void TearDown() override
    {
        log_quit();
        cvar_quit();
    }

    void restart(const std::vector<std::pair<const char *, const char *>> &pending)
    {
        log_quit();
        cvar_quit();
        cvar_log_stdout = 0;  // a previous case's value outlives cvar_quit
        for (const auto &p : pending) {
            ASSERT_TRUE(cvar_set(p.first, p.second));
        }
        ASSERT_TRUE(log_init());
    }

    std::vector<logged> drain() { return drain_log(); }

    // Messages without the header that log_init writes.
    std::vector<std::string> messages_after_header()
    {
        std::vector<std::string> out;
        for (const auto &e : drain()) {
            if (e.level != LOG_LEVEL_UNFILTERED || e.message == "late-unfiltered") {
                out.push_back(e.message);
            }
        }
        return out;
    }
};

TEST_F(LogTest, InitWritesTheHeader)
{
    const auto entries = drain();
    ASSERT_EQ(entries.size(), 7u);
    for (const auto &e : entries) {
        EXPECT_EQ(e.level, (Uint32)LOG_LEVEL_UNFILTERED);
        EXPECT_EQ(e.subsystem, "Engine");
    }
    EXPECT_EQ(entries[0].message.rfind("Log started at ", 0), 0u) << entries[0].message;
    EXPECT_EQ(entries[1].message, "Moonforge Orbkit");
    EXPECT_EQ(entries[2].message, "  Version: 6.24");
    EXPECT_EQ(entries[3].message, std::string("  GIT Hash: ") + engine_git_hash);
    EXPECT_EQ(entries[4].message, std::string("  Build Date: ") + engine_build_date + " " + engine_build_time);
    EXPECT_EQ(entries[5].message, std::string("Platform: ") + SDL_GetPlatform());
    EXPECT_EQ(entries[6].message, "");

    mnf_log_write(nullptr, LOG_LEVEL_INFO, nullptr);
    EXPECT_EQ(drain(), (std::vector<logged>{{LOG_LEVEL_INFO, "???", "(null)"}}));

    log_quit();
    mnf_log_write("Engine", LOG_LEVEL_ERROR, "after quit");
    log_error("Engine", "after quit");
    EXPECT_TRUE(drain().empty());
}

TEST_F(LogTest, LevelFilterAppliesToKeptAndNewEntries)
{
    struct {
        const char *level;
        std::vector<std::string> kept;
    } cases[] = {
        {"warn", {"early-warn", "late-warn", "late-unfiltered"}},
        {"spam",
         {"early-raw-spam", "early-debug", "early-info", "early-warn", "late-spam", "late-debug", "late-info",
          "late-warn", "late-unfiltered"}},
        {"error", {"late-unfiltered"}},
        {"nothing", {}},
        {"loud",
         {"early-debug", "early-info", "early-warn", "Cvar log.level value 'loud' is unknown. Defaulting to 'debug'.",
          "late-debug", "late-info", "late-warn", "late-unfiltered"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.level);
        restart({{"log.stdout", "false"}, {"log.filename", ""}, {"log.level", c.level}});
        EXPECT_EQ(log_should_be_filtered("Engine", LOG_LEVEL_SPAM), 0);
        log_spam("Engine", "early-fmt-spam");  // dropped: the filter is debug until ready
        mnf_log_write("Engine", LOG_LEVEL_SPAM, "early-raw-spam");
        log_debug("Engine", "early-%s", "debug");
        log_info("Engine", "early-info");
        log_warn("Engine", "early-warn");
        ASSERT_TRUE(log_ready());
        EXPECT_EQ(cvar_islocked("log.level"), 1);
        log_spam("Engine", "late-spam");
        log_debug("Engine", "late-debug");
        log_info("Engine", "late-info");
        log_warn("Engine", "late-warn");
        log_unfiltered("Engine", "late-unfiltered");
        EXPECT_EQ(messages_after_header(), c.kept);
    }

    restart({{"log.stdout", "false"}, {"log.filename", ""}, {"log.level", "warn"}});
    ASSERT_TRUE(log_ready());
    EXPECT_EQ(log_should_be_filtered("Engine", LOG_LEVEL_INFO), 1);
    EXPECT_EQ(log_should_be_filtered("Engine", LOG_LEVEL_WARN), 0);
    EXPECT_EQ(log_should_be_filtered(nullptr, LOG_LEVEL_WARN), 0);
    log_quit();
    EXPECT_EQ(log_should_be_filtered("Engine", LOG_LEVEL_ERROR), 1);
}

TEST_F(LogTest, FilteredSubsystemsMatchIgnoringCaseAndBlanks)
{
    restart({{"log.stdout", "false"}, {"log.filename", ""}, {"log.filter_subsystems", " render , HTTP,,  ,render"}});
    mnf_log_write("Render", LOG_LEVEL_INFO, "early-render");
    mnf_log_write("Engine", LOG_LEVEL_INFO, "early-engine");
    mnf_log_write("hTTp", LOG_LEVEL_INFO, "early-http");
    ASSERT_TRUE(log_ready());
    EXPECT_EQ(cvar_islocked("log.filter_subsystems"), 1);
    log_info("RENDER", "late-render");
    log_info("http", "late-http");
    log_info("HTTPServer", "late-httpserver");
    log_info("Engine", "late-engine");
    log_info(nullptr, "late-none");
    EXPECT_EQ(messages_after_header(),
              (std::vector<std::string>{"early-engine", "late-httpserver", "late-engine", "late-none"}));
    EXPECT_EQ(log_should_be_filtered("render", LOG_LEVEL_ERROR), 1);
    EXPECT_EQ(log_should_be_filtered("Render2", LOG_LEVEL_ERROR), 0);
}

TEST_F(LogTest, PublishedLinesFollowTheOptionFlags)
{
    restart({{"log.stdout", "true"}, {"log.filename", ""}});
    ASSERT_TRUE(log_ready());
    drain();

    struct {
        Uint32 level;
        Uint32 timestamp;
        const char *flags;  // level_char, timing, subsystem, stdout_color as "1"/"0"
        const char *want;
    } cases[] = {
        {LOG_LEVEL_WARN, 12500, "1110", "# 000012 [Engine] msg\n"},
        {LOG_LEVEL_INFO, 12500, "1010", "- [Engine] msg\n"},
        {LOG_LEVEL_INFO, 12500, "0000", "msg\n"},
        {LOG_LEVEL_DEBUG, 1234567890, "0100", "1234567 msg\n"},
        {LOG_LEVEL_SPAM, 999, "1100", ". 000000 msg\n"},
        {LOG_LEVEL_ERROR, 0, "1011", "\x1b[31m! [Engine] msg\x1b[m\n"},
        {LOG_LEVEL_WARN, 0, "1011", "\x1b[33m# [Engine] msg\x1b[m\n"},
        {LOG_LEVEL_DEBUG, 0, "0001", "\x1b[32mmsg\x1b[m\n"},
        {LOG_LEVEL_UNFILTERED, 0, "1011", "\x1b[36m* [Engine] msg\x1b[m\n"},
        {77, 0, "1011", "? [Engine] msg\n"},  // unknown level: no colour
    };
    const char *names[] = {"log.level_char", "log.timing", "log.subsystem", "log.stdout_color"};
    for (const auto &c : cases) {
        for (int i = 0; i < 4; i++) {
            ASSERT_TRUE(cvar_set(names[i], c.flags[i] == '1' ? "true" : "false"));
        }
        log_entry e = {c.level, c.timestamp, "Engine", "msg", nullptr};
        EXPECT_EQ(capture_stdout([&] { log_publish(&e); }), c.want) << c.level << " " << c.flags;
    }

    ASSERT_TRUE(cvar_set("log.stdout", "false"));
    log_entry e = {LOG_LEVEL_ERROR, 0, "Engine", "quiet", nullptr};
    EXPECT_EQ(capture_stdout([&] { log_publish(&e); }), "");
}

TEST_F(LogTest, LogFileNameWithoutSlashGoesIntoLogs)
{
    std::filesystem::create_directories(temp_root + "/custom");
    struct {
        const char *filename;
        const char *path;
    } cases[] = {
        {"plain.log", "logs/plain.log"},
        {"custom/given.log", "custom/given.log"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.filename);
        restart({{"log.stdout", "false"}, {"log.filename", c.filename}});
        log_info("Engine", "written before ready");
        ASSERT_TRUE(log_ready());
        EXPECT_EQ(cvar_islocked("log.filename"), 1);
        log_entry *entries = log_get_entries();
        log_publish_job(entries);
        log_warn("Game", "written after ready");
        log_quit();
        const std::string text = read_real(temp_root + "/" + c.path);
        EXPECT_NE(text.find("* [Engine] Moonforge Orbkit\n"), std::string::npos) << text;
        EXPECT_NE(text.find("- [Engine] written before ready\n"), std::string::npos) << text;
        EXPECT_NE(text.find("# [Game] written after ready\n"), std::string::npos) << text;
        EXPECT_NE(text.find("* [Engine] Logging shutting down\n"), std::string::npos) << text;
    }

    restart({{"log.stdout", "false"}, {"log.filename", "nodir/x.log"}});
    ASSERT_TRUE(log_ready());
    const auto entries = drain();
    std::vector<logged> errors;
    for (const auto &e : entries) {
        if (e.level == LOG_LEVEL_ERROR) {
            errors.push_back(e);
        }
    }
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0].message.rfind("Failed to open logfile 'nodir/x.log' (", 0), 0u) << errors[0].message;
    EXPECT_EQ(errors[1].message, "Continuing on without log file, hoping this log info is going elsewhere, too.");
}

TEST_F(LogTest, LimitedCallSiteStopsAfterThirtyMessagesAndANotice)
{
    ASSERT_TRUE(log_ready());
    drain();
    SDL_atomic_t counter;
    counter.value = 0;
    for (int i = 0; i < 40; i++) {
        log_limited(&counter, "Engine", LOG_LEVEL_WARN, "limited %d", i);
    }
    const auto entries = drain();
    ASSERT_EQ(entries.size(), 31u);
    for (int i = 0; i < 30; i++) {
        EXPECT_EQ(entries[i], (logged{LOG_LEVEL_WARN, "Engine", "limited " + std::to_string(i)}));
    }
    EXPECT_EQ(entries[30],
              (logged{LOG_LEVEL_WARN, "Engine", "(Too many logs entries like this, not logging it again.)"}));
    EXPECT_EQ(counter.value, 30);
}

TEST_F(LogTest, MultilineWritesOneEntryPerLine)
{
    struct {
        const char *text;
        std::vector<std::string> entries;
    } cases[] = {
        {"a\n\nb\n", {"a", "", "b"}},
        {"", {""}},
        {nullptr, {}},
        {"single", {"single"}},
        {"x\ny", {"x", "y"}},
        {"\n", {""}},
    };
    drain();
    for (const auto &c : cases) {
        log_multiline("Game", LOG_LEVEL_INFO, c.text);
        std::vector<std::string> got;
        for (const auto &e : drain()) {
            EXPECT_EQ(e.subsystem, "Game");
            got.push_back(e.message);
        }
        EXPECT_EQ(got, c.entries) << testing::PrintToString(c.text ? c.text : "(null)");
    }
}

TEST_F(LogTest, ErrorHelpersAppendTheReason)
{
    drain();
    SDL_SetError("boom %d", 7);
    log_sdl_error("Render", LOG_LEVEL_ERROR, "op %d failed", 1);
    SDL_ClearError();
    log_sdl_error("Render", LOG_LEVEL_WARN, "quiet");
    PHYSFS_setErrorCode(PHYSFS_ERR_NOT_FOUND);
    log_physfs_error("Engine", LOG_LEVEL_ERROR, "open '%s'", "x");
    PHYSFS_setErrorCode((PHYSFS_ErrorCode)50);
    log_physfs_error("Engine", LOG_LEVEL_ERROR, "odd");
    EXPECT_EQ(drain(), (std::vector<logged>{
                           {LOG_LEVEL_ERROR, "Render", "op 1 failed (boom 7)"},
                           {LOG_LEVEL_WARN, "Render", "quiet (no error)"},
                           {LOG_LEVEL_ERROR, "Engine", "open 'x' (not found)"},
                           {LOG_LEVEL_ERROR, "Engine", "odd (unknown error)"},
                       }));
}

TEST_F(LogTest, EmergencyQuitBeforeMetadataUsesTheDefaultGameId)
{
    restart({});
    ASSERT_EQ(cvar_get_string("game_metadata.gameid"), nullptr);
    log_error("Engine", "fatal thing");
    const std::string out = capture_stdout([] { log_emergency_quit(); });
    EXPECT_NE(out.find("! [Engine] fatal thing\n"), std::string::npos) << out;
    const std::string text = read_real(temp_root + "/logs/hello-SDL.log");
    EXPECT_NE(text.find("! [Engine] fatal thing\n"), std::string::npos) << text;
    EXPECT_NE(text.find("* [Engine] Logging shutting down\n"), std::string::npos) << text;
    char **filename = cvar_get_string("log.filename");
    ASSERT_NE(filename, nullptr);
    EXPECT_STREQ(*filename, "hello-SDL.log");
}

TEST_F(LogTest, ConcurrentPublishersWriteWholeLines)
{
    restart({{"log.stdout", "false"}, {"log.filename", "concurrent.log"}});
    ASSERT_TRUE(log_ready());
    drain();
    const std::string body(200, 'q');
    auto publisher = [&](const char *subsystem) {
        for (int i = 0; i < 300; i++) {
            log_entry e = {LOG_LEVEL_INFO, 0, subsystem, body.c_str(), nullptr};
            log_publish(&e);
        }
    };
    std::thread a(publisher, "A");
    std::thread b(publisher, "B");
    a.join();
    b.join();
    log_quit();

    std::ifstream in(temp_root + "/logs/concurrent.log");
    int from_a = 0, from_b = 0;
    for (std::string line; std::getline(in, line);) {
        if (line == "- [A] " + body) from_a++;
        else if (line == "- [B] " + body) from_b++;
        else EXPECT_EQ(line.find(body), std::string::npos) << "torn line: " << line;
    }
    EXPECT_EQ(from_a, 300);
    EXPECT_EQ(from_b, 300);
}

}  // namespace
