// Cvars: pending values, text parsing and clamping, locks, typed look-ups,
// ownership of string storage, the cvar file reader, the registration
// callback and concurrent string rewrites.
#include <gtest/gtest.h>

#include "log_capture.h"
#include "temp_vfs.h"

#include <float.h>
#include <physfs.h>
#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "config/cvar.h"
#include "log/log.h"

namespace {

// A ready log at spam level without file or standard output, so every cvar
// message can be inspected.
class CvarTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        cvar_quit();
        cvar_set("log.level", "spam");
        cvar_set("log.stdout", "false");
        cvar_set("log.filename", "");
        ASSERT_TRUE(log_init());
        ASSERT_TRUE(log_ready());
        drain();
    }
    void TearDown() override
    {
        log_quit();
        cvar_quit();
    }

    std::vector<logged> drain() { return drain_log(); }

    static bool has(const std::vector<logged> &entries, const std::string &message)
    {
        for (const auto &e : entries) {
            if (e.message == message) {
                return true;
            }
        }
        return false;
    }
};

TEST_F(CvarTest, PendingValueIsAppliedAtRegistrationAndConsumed)
{
    ASSERT_TRUE(cvar_set("x", "4"));
    ASSERT_TRUE(cvar_set("x", "5"));  // replaces the pending text
    auto entries = drain();
    EXPECT_TRUE(has(entries, "Marked unregistered cvar 'x' (value '5') as pending."));

    Sint32 x = 0;
    ASSERT_TRUE(cvar_register_int("x", "an int", &x, 1));
    EXPECT_EQ(x, 5);
    entries = drain();
    EXPECT_TRUE(has(entries, "Registered cvar \"x\" (\"an int\") [pending value: \"5\"]"));

    // A second registration of the name finds no pending value any more.
    Sint32 y = 0;
    ASSERT_TRUE(cvar_register_int("x", "again", &y, 1));
    EXPECT_EQ(y, 1);
    EXPECT_TRUE(has(drain(), "Registered cvar \"x\" (\"again\") [default value: \"1\"]"));
    EXPECT_EQ(cvar_get_int("x"), &y);  // the newer node wins look-ups

    ASSERT_TRUE(cvar_set("x", "9"));
    EXPECT_TRUE(has(drain(), "Setting cvar 'x' to '9'."));
    EXPECT_EQ(y, 9);
    EXPECT_EQ(x, 5);
}

TEST_F(CvarTest, TextParsingClampsToTheTypeRange)
{
    Sint32 i = 0, b = 0;
    Uint32 u = 0;
    float f = 0;
    ASSERT_TRUE(cvar_register_int("t.int", "d", &i, 0));
    ASSERT_TRUE(cvar_register_uint("t.uint", "d", &u, 0));
    ASSERT_TRUE(cvar_register_float("t.float", "d", &f, 0));
    ASSERT_TRUE(cvar_register_bool("t.bool", "d", &b, 0));

    struct {
        const char *name;
        const char *text;
        double want;
    } cases[] = {
        {"t.int", "42", 42},
        {"t.int", "-17", -17},
        {"t.int", "12abc", 12},
        {"t.int", "abc", 0},
        {"t.int", "99999999999", SDL_MAX_SINT32},
        {"t.int", "-99999999999", SDL_MIN_SINT32},
        {"t.int", "999999999999999999999999", SDL_MAX_SINT32},
        {"t.uint", "4294967295", 4294967295.0},
        {"t.uint", "4294967296", 4294967295.0},
        {"t.uint", "99999999999999999999999", 4294967295.0},
        {"t.uint", "-1", 0},
        {"t.uint", "  -5", 0},
        {"t.uint", "7", 7},
        {"t.float", "0.25", 0.25},
        {"t.float", "-3.5", -3.5},
        {"t.float", "1e39", FLT_MAX},
        {"t.float", "-1e39", -FLT_MAX},
        {"t.float", "inf", FLT_MAX},
        {"t.float", "-inf", -FLT_MAX},
        {"t.float", "nan", 0},
        {"t.float", "pear", 0},
        {"t.bool", "TRUE", 1},
        {"t.bool", "true", 1},
        {"t.bool", "1", 1},
        {"t.bool", "7", 1},
        {"t.bool", "4294967296", 1},  // non-zero even though its low 32 bits are 0
        {"t.bool", "false", 0},
        {"t.bool", "no", 0},
        {"t.bool", "yes", 0},
        {"t.bool", "", 0},
        {"t.bool", "0", 0},
    };
    for (const auto &c : cases) {
        ASSERT_TRUE(cvar_set(c.name, c.text));
        double got = 0;
        if (c.name[2] == 'i') got = i;
        if (c.name[2] == 'u') got = u;
        if (c.name[2] == 'f') got = f;
        if (c.name[2] == 'b') got = b;
        EXPECT_EQ(got, c.want) << c.name << " = '" << c.text << "'";
    }
}

TEST_F(CvarTest, DefaultsAreLoggedAsRegisteredText)
{
    float f = 0;
    Uint32 u = 0;
    Sint32 b = 0;
    ASSERT_TRUE(cvar_register_float("half", "a float", &f, 0.5f));
    ASSERT_TRUE(cvar_register_uint("port", "a uint", &u, 9001));
    ASSERT_TRUE(cvar_register_bool("flag", "a bool", &b, 1));
    EXPECT_EQ(f, 0.5f);
    EXPECT_EQ(u, 9001u);
    EXPECT_EQ(b, 1);
    const auto entries = drain();
    EXPECT_TRUE(has(entries, "Registered cvar \"half\" (\"a float\") [default value: \"0.500000\"]"));
    EXPECT_TRUE(has(entries, "Registered cvar \"port\" (\"a uint\") [default value: \"9001\"]"));
    EXPECT_TRUE(has(entries, "Registered cvar \"flag\" (\"a bool\") [default value: \"true\"]"));
    EXPECT_EQ(entries.front().level, (Uint32)LOG_LEVEL_SPAM);
}

TEST_F(CvarTest, LockedCvarRefusesChangesUntilUnlocked)
{
    static char *s;  // string storage must outlive the fixture's cvar_quit
    ASSERT_TRUE(cvar_register_string("locked.s", "d", &s, "orig"));
    ASSERT_TRUE(cvar_lock("locked.s"));
    EXPECT_EQ(cvar_islocked("locked.s"), 1);
    drain();

    EXPECT_EQ(cvar_set("locked.s", "new"), 0);
    EXPECT_STREQ(s, "orig");
    const auto entries = drain();
    ASSERT_TRUE(has(entries, "Refusing to set locked cvar 'locked.s' to 'new'"));
    for (const auto &e : entries) {
        if (e.message.rfind("Refusing", 0) == 0) {
            EXPECT_EQ(e.level, (Uint32)LOG_LEVEL_ERROR);
        }
    }

    EXPECT_TRUE(cvar_force_set("locked.s", "forced"));
    EXPECT_STREQ(s, "forced");
    EXPECT_EQ(cvar_islocked("locked.s"), 1);

    ASSERT_TRUE(cvar_unlock("locked.s"));
    EXPECT_TRUE(cvar_set("locked.s", "free"));
    EXPECT_STREQ(s, "free");

    EXPECT_EQ(cvar_lock("unknown.name"), 0);
    EXPECT_EQ(cvar_unlock(nullptr), 0);
    EXPECT_EQ(cvar_islocked("unknown.name"), 0);
    EXPECT_EQ(cvar_set(nullptr, "x"), 0);
    EXPECT_EQ(cvar_set("x", nullptr), 0);
}

TEST_F(CvarTest, LookupsAnswerOnlyForTheMatchingType)
{
    static char *s;
    Sint32 i = 0;
    ASSERT_TRUE(cvar_register_string("kind.s", "string desc", &s, "v"));
    ASSERT_TRUE(cvar_register_int("kind.i", "int desc", &i, 3));

    EXPECT_EQ(cvar_get_int("kind.s"), nullptr);
    EXPECT_EQ(cvar_get_bool("kind.s"), nullptr);
    EXPECT_EQ(cvar_get_string("kind.s"), &s);
    EXPECT_EQ(cvar_get_int("kind.i"), &i);
    EXPECT_EQ(cvar_get_uint("kind.i"), nullptr);
    EXPECT_EQ(cvar_get_float("kind.i"), nullptr);

    unsigned type = 99;
    const char *desc = "x";
    EXPECT_EQ(cvar_get("kind.s", &type, &desc), (void *)&s);
    EXPECT_EQ(type, (unsigned)CVAR_TYPE_STRING);
    EXPECT_STREQ(desc, "string desc");
    EXPECT_EQ(cvar_get("kind.none", &type, &desc), nullptr);
    EXPECT_EQ(type, 0u);
    EXPECT_EQ(desc, nullptr);
    EXPECT_EQ(cvar_get("kind.i", nullptr, nullptr), (void *)&i);

    EXPECT_STREQ(cvar_type_name(CVAR_TYPE_STRING), "string");
    EXPECT_STREQ(cvar_type_name(CVAR_TYPE_INT), "int");
    EXPECT_STREQ(cvar_type_name(CVAR_TYPE_UINT), "uint");
    EXPECT_STREQ(cvar_type_name(CVAR_TYPE_FLOAT), "float");
    EXPECT_STREQ(cvar_type_name(CVAR_TYPE_BOOL), "bool");
    EXPECT_EQ(cvar_type_name(0), nullptr);
    EXPECT_EQ(cvar_type_name(6), nullptr);

    EXPECT_EQ(cvar_register("bad", CVAR_TYPE_INT, "d", nullptr, nullptr), 0);
    EXPECT_EQ(cvar_register(nullptr, CVAR_TYPE_INT, "d", nullptr, "1"), 0);
    EXPECT_EQ(cvar_register("bad", 42, "d", nullptr, "1"), 0);
    EXPECT_EQ(cvar_get("bad", nullptr, nullptr), nullptr);
}

TEST_F(CvarTest, StringStorageNeverFreesWhatTheCvarDidNotAllocate)
{
    // A literal and a garbage pointer in the caller's variable: registering
    // over them must not free them (ASan/the allocator would abort).
    static char *literal;
    static char *garbage;
    literal = (char *)"literal";
    garbage = (char *)(uintptr_t)0x1;
    ASSERT_TRUE(cvar_register_string("own.literal", "d", &literal, "first"));
    ASSERT_TRUE(cvar_register_string("own.garbage", "d", &garbage, "second"));
    EXPECT_STREQ(literal, "first");
    EXPECT_STREQ(garbage, "second");

    // Rewrites and a re-registration over the same variable free the old
    // copies (LeakSanitizer checks).
    ASSERT_TRUE(cvar_set("own.literal", "rewritten"));
    ASSERT_TRUE(cvar_register_string("own.literal", "again", &literal, "third"));
    EXPECT_STREQ(literal, "third");

    // Without caller storage the value lives inside the cvar.
    ASSERT_TRUE(cvar_register_string("own.internal", "d", nullptr, "inside"));
    char **slot = cvar_get_string("own.internal");
    ASSERT_NE(slot, nullptr);
    EXPECT_STREQ(*slot, "inside");
    ASSERT_TRUE(cvar_set("own.internal", "changed"));
    EXPECT_STREQ(*slot, "changed");

    char buf[5];
    EXPECT_STREQ(cvar_string_read(slot, buf, sizeof(buf)), "chan");
    EXPECT_STREQ(cvar_string_read(nullptr, buf, sizeof(buf)), "");
    char *dup = cvar_string_dup(slot);
    EXPECT_STREQ(dup, "changed");
    SDL_free(dup);
    EXPECT_EQ(cvar_string_dup(nullptr), nullptr);

    cvar_quit();
    EXPECT_EQ(literal, nullptr);
    EXPECT_EQ(garbage, nullptr);
}

TEST_F(CvarTest, FileLinesSetTrimmedValuesAndReportBadLines)
{
    const char *lines[] = {
        "  spaced.key  =  inner  value  ",  // 1
        "empty.value=",                     // 2
        "=nokey",                           // 3: invalid
        "no equals here",                   // 4: invalid
        "# comment = x",                    // 5
        "; other = y",                      // 6
        "",                                 // 7
        "   ",                              // 8
        "file.int = 42",                    // 9
    };
    for (const char *eol : {"\n", "\r\n", "\r"}) {
        SCOPED_TRACE(testing::PrintToString(std::string(eol)));
        cvar_quit();
        Sint32 n = 0;
        ASSERT_TRUE(cvar_register_int("file.int", "d", &n, 1));
        drain();

        std::string content;
        for (const char *l : lines) {
            content += l;
            content += eol;
        }
        const std::string name = "cvars_" + std::to_string(content.size()) + ".txt";
        std::ofstream(temp_root + "/" + name, std::ios::binary) << content;

        load_cvars_from_file(name.c_str());
        const auto entries = drain();

        EXPECT_EQ(n, 42);
        static char *spaced;
        static char *empty;
        ASSERT_TRUE(cvar_register_string("spaced.key", "d", &spaced, "default"));
        ASSERT_TRUE(cvar_register_string("empty.value", "d", &empty, "default"));
        EXPECT_STREQ(spaced, "inner  value");
        EXPECT_STREQ(empty, "");

        std::vector<std::string> warnings;
        for (const auto &e : entries) {
            if (e.level == LOG_LEVEL_WARN) {
                warnings.push_back(e.message);
            }
        }
        EXPECT_EQ(warnings, (std::vector<std::string>{name + ": invalid data on line 3, ignored",
                                                      name + ": invalid data on line 4, ignored"}));
        EXPECT_TRUE(has(entries, "Loading cvars from file '" + name + "' ..."));
        EXPECT_TRUE(has(entries, "File '" + name + "' line 9 setting cvar 'file.int' to '42'"));
        EXPECT_TRUE(has(entries, "File '" + name + "' complete"));
    }

    drain();
    load_cvars_from_file("no_such_cvars.txt");
    EXPECT_TRUE(drain().empty());
}

struct callback_record {
    std::vector<std::string> names;
    std::vector<unsigned> types;
};

void record_callback(void *context, const char *name, const char *description, unsigned type)
{
    auto *rec = (callback_record *)context;
    rec->names.emplace_back(name);
    rec->types.push_back(type);
}

TEST_F(CvarTest, RegistrationCallbackSeesExistingThenNewCvars)
{
    Sint32 a = 0;
    float b = 0;
    ASSERT_TRUE(cvar_register_int("cb.a", "d", &a, 0));
    ASSERT_TRUE(cvar_register_float("cb.b", "d", &b, 0));

    callback_record rec;
    cvar_set_register_callback(record_callback, &rec);
    ASSERT_GE(rec.names.size(), 2u);
    // Newest first, then older ones (the log.* cvars of the fixture).
    EXPECT_EQ(rec.names[0], "cb.b");
    EXPECT_EQ(rec.types[0], (unsigned)CVAR_TYPE_FLOAT);
    EXPECT_EQ(rec.names[1], "cb.a");
    EXPECT_EQ(rec.names.back(), "log.filename");
    const size_t existing = rec.names.size();

    ASSERT_TRUE(cvar_register_string("cb.c", "d", nullptr, "x"));
    ASSERT_EQ(rec.names.size(), existing + 1);
    EXPECT_EQ(rec.names.back(), "cb.c");
    EXPECT_EQ(rec.types.back(), (unsigned)CVAR_TYPE_STRING);

    // A failed registration does not reach the callback.
    EXPECT_FALSE(cvar_register("cb.bad", CVAR_TYPE_INT, nullptr, nullptr, "1"));
    EXPECT_EQ(rec.names.size(), existing + 1);

    cvar_set_register_callback(nullptr, nullptr);
    ASSERT_TRUE(cvar_register_string("cb.d", "d", nullptr, "x"));
    EXPECT_EQ(rec.names.size(), existing + 1);
}

TEST_F(CvarTest, StringRewriteIsSafeAgainstConcurrentReaders)
{
    static char *shared;
    ASSERT_TRUE(cvar_register_string("shared.s", "d", &shared, "value-0"));

    std::atomic<bool> done{false};
    std::atomic<int> bad{0};
    std::thread reader([&] {
        char buf[64];
        while (!done.load()) {
            cvar_string_read(&shared, buf, sizeof(buf));
            if (SDL_strncmp(buf, "value-", 6) != 0) {
                bad++;
            }
            char *copy = cvar_string_dup(&shared);
            if (!copy || SDL_strncmp(copy, "value-", 6) != 0) {
                bad++;
            }
            SDL_free(copy);
        }
    });
    std::thread writer([&] {
        for (int i = 1; i <= 5000; i++) {
            std::string v = "value-" + std::to_string(i) + std::string(i % 23, 'x');
            cvar_set("shared.s", v.c_str());
        }
        done.store(true);
    });
    writer.join();
    reader.join();
    EXPECT_EQ(bad.load(), 0);
    EXPECT_EQ(std::string(shared), "value-5000" + std::string(5000 % 23, 'x'));
}

}  // namespace
