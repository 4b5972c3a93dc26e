// File and text utilities: allocation printf, PhysFS whole-file reads and
// writes, real-file writes, the line and key/value splitters, the UTF-8
// decoder and the frame-rate counter.
#include <gtest/gtest.h>

#include "temp_vfs.h"

#include <physfs.h>
#include <signal.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/util.h"

namespace {

void write_real(const std::string &rel, const std::string &content)
{
    const std::filesystem::path p = std::filesystem::path(temp_root) / rel;
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << content;
}

TEST(SprintfAlloc, FormatsExactlyIncludingEmptyAndLongTexts)
{
    const std::string long_text(5000, 'z');
    struct {
        char *got;
        std::string want;
    } cases[] = {
        {sprintf_alloc("%s", ""), ""},
        {sprintf_alloc("%d-%s", 7, "x"), "7-x"},
        {sprintf_alloc("[%s]", long_text.c_str()), "[" + long_text + "]"},
    };
    for (auto &c : cases) {
        ASSERT_NE(c.got, nullptr);
        EXPECT_EQ(std::string(c.got), c.want);
        SDL_free(c.got);
    }
    char *empty_fmt = sprintf_alloc("%s", "");
    ASSERT_NE(empty_fmt, nullptr);
    EXPECT_EQ(empty_fmt[0], '\0');
    SDL_free(empty_fmt);
}

TEST(Loadfile, ReadsWholeFileAndRejectsMissingOrDirectories)
{
    write_real("load/data.bin", std::string("hello\0world", 11));
    write_real("load/empty.txt", "");

    size_t len = 99;
    char *buf = (char *)loadfile("load/data.bin", &len);
    ASSERT_NE(buf, nullptr);
    EXPECT_EQ(len, 11u);
    EXPECT_EQ(std::string(buf, len), std::string("hello\0world", 11));
    EXPECT_EQ(buf[11], '\0');
    SDL_free(buf);

    len = 99;
    buf = (char *)loadfile("load/empty.txt", &len);
    ASSERT_NE(buf, nullptr);
    EXPECT_EQ(len, 0u);
    EXPECT_EQ(buf[0], '\0');
    SDL_free(buf);

    len = 99;
    EXPECT_EQ(loadfile("load/missing.txt", &len), nullptr);
    EXPECT_EQ(len, 0u);

    len = 99;
    EXPECT_EQ(loadfile("load", &len), nullptr);
    EXPECT_EQ(len, 0u);
}

TEST(Storefile, CreatesNestedDirectoriesTruncatesAndAppends)
{
    for (const char *d : {"lvl1", "app", "top.txt"}) {
        std::filesystem::remove_all(temp_root + "/" + d);
    }
    ASSERT_TRUE(storefile("lvl1/lvl2/out.txt", "abc", 3));
    EXPECT_TRUE(std::filesystem::is_directory(temp_root + "/lvl1"));
    EXPECT_TRUE(std::filesystem::is_directory(temp_root + "/lvl1/lvl2"));
    EXPECT_EQ(read_real(temp_root + "/lvl1/lvl2/out.txt"), "abc");

    ASSERT_TRUE(storefile("lvl1/lvl2/out.txt", "xy", 2));
    EXPECT_EQ(read_real(temp_root + "/lvl1/lvl2/out.txt"), "xy");
    ASSERT_TRUE(appendfile("lvl1/lvl2/out.txt", "z", 1));
    ASSERT_TRUE(appendfile("lvl1/lvl2/out.txt", "", 0));
    EXPECT_EQ(read_real(temp_root + "/lvl1/lvl2/out.txt"), "xyz");

    ASSERT_TRUE(appendfile("app/new/log.txt", "first", 5));
    EXPECT_EQ(read_real(temp_root + "/app/new/log.txt"), "first");

    ASSERT_TRUE(storefile("top.txt", "", 0));
    EXPECT_TRUE(std::filesystem::exists(temp_root + "/top.txt"));
    EXPECT_EQ(std::filesystem::file_size(temp_root + "/top.txt"), 0u);

    // A path component that is a file cannot become a directory.
    EXPECT_FALSE(storefile("top.txt/inner.txt", "x", 1));
}

TEST(WriteOverride, WritesOutsideTheVirtualFileSystem)
{
    const std::string dir = temp_root + "/real";
    std::filesystem::remove_all(dir);
    ASSERT_TRUE(storefile_write_override(dir.c_str(), "a/b/c.txt", "data", 4));
    EXPECT_EQ(read_real(dir + "/a/b/c.txt"), "data");
    ASSERT_TRUE(appendfile_write_override(dir.c_str(), "a/b/c.txt", "+more", 5));
    EXPECT_EQ(read_real(dir + "/a/b/c.txt"), "data+more");
    ASSERT_TRUE(storefile_write_override(dir.c_str(), "a/b/c.txt", "", 0));
    EXPECT_EQ(read_real(dir + "/a/b/c.txt"), "");

    write_real("plainfile", "x");
    EXPECT_FALSE(storefile_write_override((temp_root + "/plainfile").c_str(), "sub.txt", "x", 1));
}

TEST(FileQueries, ModificationTimeAndExistence)
{
    write_real("stat/here.txt", "1");
    EXPECT_GT(lastmodtime("stat/here.txt"), 0);
    EXPECT_EQ(lastmodtime("stat/nothere.txt"), -1);
    EXPECT_TRUE(path_exists("stat/here.txt"));
    EXPECT_TRUE(path_exists("stat"));
    EXPECT_FALSE(path_exists("stat/nothere.txt"));
}

TEST(SplitTextfile, EveryLineBreakStyleEndsALine)
{
    struct {
        std::string content;
        std::vector<std::string> lines;
    } cases[] = {
        {"a\r\nb\rc\n", {"a", "b", "c", ""}},
        {"", {""}},
        {"one", {"one"}},
        {"x\n\ny", {"x", "", "y"}},
        {"\n\r\n\r", {"", "", "", ""}},
        {"k = v\r\n# c\r\n", {"k = v", "# c", ""}},
    };
    int n = 0;
    for (const auto &c : cases) {
        const std::string name = "split/case" + std::to_string(n++) + ".txt";
        write_real(name, c.content);
        unsigned count = 1234;
        char **lines = split_textfile_into_lines(name.c_str(), &count);
        ASSERT_NE(lines, nullptr) << name;
        std::vector<std::string> got;
        for (unsigned i = 0; i < count; i++) {
            got.emplace_back(lines[i]);
        }
        EXPECT_EQ(got, c.lines) << "content: " << testing::PrintToString(c.content);
        EXPECT_EQ(lines[count], nullptr);
        free_split_textfile(lines);
    }

    unsigned count = 5;
    EXPECT_EQ(split_textfile_into_lines("split/missing.txt", &count), nullptr);
    EXPECT_EQ(count, 0u);
    free_split_textfile(nullptr);
}

TEST(SplitKeyValue, TrimsAndClassifiesLines)
{
    struct {
        const char *line;
        int ok;
        const char *key;  // null: no key
        const char *value;
    } cases[] = {
        {"", 1, nullptr, nullptr},
        {"  \t  ", 1, nullptr, nullptr},
        {"# comment = x", 1, nullptr, nullptr},
        {"   ; other = y", 1, nullptr, nullptr},
        {"key=value", 1, "key", "value"},
        {"  spaced key \t=  inner  blanks \t ", 1, "spaced key", "inner  blanks"},
        {"key=", 1, "key", ""},
        {"key =   ", 1, "key", ""},
        {"a=b=c", 1, "a", "b=c"},
        {"k#=v", 1, "k#", "v"},
        {"=value", 0, nullptr, nullptr},
        {"   =value", 0, nullptr, nullptr},
        {"no equals here", 0, nullptr, nullptr},
    };
    for (const auto &c : cases) {
        std::string buf = c.line;
        char *key = (char *)"sentinel";
        char *value = (char *)"sentinel";
        EXPECT_EQ(split_key_value_string(buf.data(), &key, &value), c.ok) << c.line;
        if (c.key) {
            ASSERT_NE(key, nullptr) << c.line;
            ASSERT_NE(value, nullptr) << c.line;
            EXPECT_STREQ(key, c.key) << c.line;
            EXPECT_STREQ(value, c.value) << c.line;
        } else {
            EXPECT_EQ(key, nullptr) << c.line;
        }
    }
}

TEST(Utf8Codepoint, DecodesValidAndRejectsMalformedSequences)
{
    struct {
        const char *bytes;
        Uint32 want;
        int advance;
    } cases[] = {
        {"", 0, 0},
        {"A", 'A', 1},
        {"\xC2\xA9", 0xA9, 2},
        {"\xE2\x82\xAC", 0x20AC, 3},
        {"\xC0\x80", UTF8_INVALID, 2},              // overlong NUL
        {"\xC1\xBF", UTF8_INVALID, 2},              // overlong 0x7F
        {"\xE0\x80\x80", UTF8_INVALID, 3},          // overlong 3-byte
        {"\xED\x9F\xBF", 0xD7FF, 3},                // just below the surrogates
        {"\xED\xA0\x80", UTF8_INVALID, 3},          // U+D800
        {"\xED\xBF\xBF", UTF8_INVALID, 3},          // U+DFFF
        {"\xEE\x80\x80", 0xE000, 3},                // just above
        {"\xEF\xBF\xBD", 0xFFFD, 3},
        {"\xEF\xBF\xBE", UTF8_INVALID, 3},          // U+FFFE
        {"\xF0\x9F\x98\x80", 0x1F600, 4},
        {"\xF4\x8F\xBF\xBF", 0x10FFFF, 4},          // the largest code point
        {"\xF4\x90\x80\x80", UTF8_INVALID, 4},      // above it
        {"\xF0\x80\x80\x80", UTF8_INVALID, 4},      // overlong 4-byte
        {"\xF8\x88\x80\x80\x80", UTF8_INVALID, 5},  // 5-byte form skipped whole
        {"\xFC\x84\x80\x80\x80\x80", UTF8_INVALID, 6},
        {"\xF8\x88\x80", UTF8_INVALID, 1},          // truncated 5-byte form
        {"\xE2\x82", UTF8_INVALID, 1},              // truncated at the end
        {"\xE2\x41", UTF8_INVALID, 1},              // resumes at the 'A'
        {"\xF0\x9F\x98", UTF8_INVALID, 1},
        {"\x80", UTF8_INVALID, 1},                  // lone continuation
        {"\xBF", UTF8_INVALID, 1},
    };
    for (const auto &c : cases) {
        const char *p = c.bytes;
        EXPECT_EQ(utf8codepoint(&p), c.want) << testing::PrintToString(std::string(c.bytes));
        EXPECT_EQ(p - c.bytes, c.advance) << testing::PrintToString(std::string(c.bytes));
    }

    for (Uint32 cp = 0xD800; cp <= 0xDFFF; cp++) {
        const char enc[4] = {(char)(0xE0 | (cp >> 12)), (char)(0x80 | ((cp >> 6) & 0x3F)), (char)(0x80 | (cp & 0x3F)),
                             0};
        const char *p = enc;
        ASSERT_EQ(utf8codepoint(&p), UTF8_INVALID) << std::hex << cp;
        ASSERT_EQ(p - enc, 3);
    }

    const char *text = "a\xE2\x82\xAC\xFF" "b";
    std::vector<Uint32> got;
    for (Uint32 cp; (cp = utf8codepoint(&text)) != 0;) {
        got.push_back(cp);
    }
    EXPECT_EQ(got, (std::vector<Uint32>{'a', 0x20AC, UTF8_INVALID, 'b'}));
}

TEST(FpsIteration, AveragesTheLastSecondOfSamples)
{
    struct {
        Uint32 frame_ms;
        unsigned want;
    } cases[] = {{16, 63}, {17, 59}, {33, 30}, {10, 100}};
    for (const auto &c : cases) {
        fps_counter counter;
        SDL_zero(counter);
        EXPECT_EQ(fps_iteration_at(&counter, 0), 0u);
        unsigned rate = 0;
        for (Uint32 t = c.frame_ms; t <= 2000; t += c.frame_ms) {
            rate = fps_iteration_at(&counter, t);
        }
        EXPECT_EQ(rate, c.want) << c.frame_ms << " ms per frame";
    }

    // The clock wrapping around 2^32 ms keeps the rate.
    fps_counter counter;
    SDL_zero(counter);
    Uint32 t = 0xFFFFFFFFu - 1000;
    counter.last_sample_time = t;
    unsigned rate = 0;
    for (int i = 0; i < 125; i++) {
        t += 16;
        rate = fps_iteration_at(&counter, t);
    }
    EXPECT_EQ(rate, 63u);
}

TEST(SmallHelpers, DatetimeSigpipeAndFolderName)
{
    current_datetime(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    int year = 0, month = 0, day = 0, hour = -1, minute = -1, second = -1;
    current_datetime(&year, &month, &day, &hour, &minute, &second);
    EXPECT_GE(year, 2020);
    EXPECT_GE(month, 1);
    EXPECT_LE(month, 12);
    EXPECT_GE(day, 1);
    EXPECT_LE(day, 31);
    EXPECT_LE(second, 59);
    EXPECT_NEAR((double)current_timestamp(), (double)time(nullptr), 2.0);

    ignore_sigpipe();
    ignore_sigpipe();
    EXPECT_EQ(raise(SIGPIPE), 0);  // still alive

    char *name = generate_unique_emscripten_folder_name("dev", "game");
    ASSERT_NE(name, nullptr);
    EXPECT_STREQ(name, "dev-game");
    SDL_free(name);
}

}  // namespace
