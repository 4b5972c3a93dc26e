// Native script bindings driven through the interpreter: FFI::File over a
// temporary game folder (writes, refused paths, atomic replacement, reads,
// stat, list, delete, mount), MRB.parse and MRB.eval, Array#value, the type
// checks and support functions, FFI::CPtr, ffi_init itself and FFI::Misc
// (cvars, log, UUIDs, environment, platform queries).
#include <gtest/gtest.h>

#include "mruby_run.h"

#include "log_capture.h"
#include "temp_vfs.h"

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include <mruby.h>
#include <mruby/class.h>
#include <mruby/compile.h>
#include <mruby/data.h>
#include <mruby/error.h>
#include <mruby/string.h>
#include <physfs.h>

#include "bindings/ffi.h"
#include "config/cvar.h"
#include "log/log.h"

namespace fs = std::filesystem;

namespace {

struct ruby_case {
    const char *code;
    const char *expected;
};

// A fresh interpreter with the bindings over a per-test game folder, which
// is also at the front of the search path and the write directory; the
// base folder is a sibling that is not mounted. The log is ready at spam
// level without file or stdout so logged messages can be inspected.
class BindingsTest : public ::testing::Test {
protected:
    mrb_state *mrb = nullptr;
    std::string game;
    std::string base;
    Uint32 ticks_before_init = 0;

    void SetUp() override
    {
        cvar_quit();
        cvar_set("log.level", "spam");
        cvar_set("log.stdout", "false");
        cvar_set("log.filename", "");
        ASSERT_TRUE(log_init());
        ASSERT_TRUE(log_ready());
        drain_log();

        const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        game = temp_root + "/" + name + "_game";
        base = temp_root + "/" + name + "_base";
        fs::create_directories(game);
        ASSERT_TRUE(PHYSFS_mount(game.c_str(), nullptr, 0));
        ASSERT_TRUE(PHYSFS_setWriteDir(game.c_str()));

        mrb = mrb_open();
        ASSERT_NE(mrb, nullptr);
        ticks_before_init = SDL_GetTicks();
        ASSERT_TRUE(ffi_init(game.c_str(), base.c_str(), mrb, nullptr)) << SDL_GetError();
    }

    void TearDown() override
    {
        if (mrb) {
            mrb_close(mrb);
        }
        PHYSFS_unmount(game.c_str());
        PHYSFS_setWriteDir(temp_root.c_str());
        log_quit();
        cvar_quit();
    }

    std::string run(const std::string &code) { return mruby_run(mrb, code); }

    std::string run_string(const std::string &code) { return mruby_run_bytes(mrb, code); }

    void expect_cases(const std::vector<ruby_case> &cases)
    {
        for (const auto &c : cases) {
            EXPECT_EQ(run(c.code), c.expected) << c.code;
        }
    }

    // Every path below dir, for "nothing was created" checks.
    static std::set<std::string> tree(const std::string &dir)
    {
        std::set<std::string> out;
        if (fs::exists(dir)) {
            for (const auto &e : fs::recursive_directory_iterator(dir)) {
                out.insert(e.path().lexically_relative(dir).string());
            }
        }
        return out;
    }

    static std::vector<std::string> temp_leftovers(const std::string &dir)
    {
        std::vector<std::string> out;
        for (const auto &e : fs::directory_iterator(dir)) {
            const std::string n = e.path().filename().string();
            if (n.size() > 4 && n.compare(n.size() - 4, 4, ".tmp") == 0) {
                out.push_back(n);
            }
        }
        return out;
    }
};

// FFI::File writes

TEST_F(BindingsTest, WritesCreateDirectoriesTruncateAndAppend)
{
    expect_cases({
        {R"(f = FFI::File.new; [f.write("a/b/c.txt", "hello"), f.read("a/b/c.txt")])", R"([true, "hello"])"},
        {R"(f = FFI::File.new; [f.write("t.txt", "old data"), f.write("t.txt", ""), f.read("t.txt")])",
         R"([true, true, ""])"},
        {R"(f = FFI::File.new; [f.append("l.txt", "x"), f.append("l.txt", "y"), f.read("l.txt")])",
         R"([true, true, "xy"])"},
        {R"(f = FFI::File.new; [f.append("new/dir/l.txt", "z"), f.read("new/dir/l.txt")])", R"([true, "z"])"},
        {R"(f = FFI::File.new; f.write("bin", "a\0b\xff"); f.read("bin").bytes)", "[97, 0, 98, 255]"},
        {R"(f = FFI::File.new; [f.write_root("r/x.txt", "root"), f.append_root("r/x.txt", "+")])", "[true, true]"},
        // The base folder is not mounted: its files are not readable.
        {R"(FFI::File.new.read("r/x.txt"))", "nil"},
    });
    EXPECT_EQ(read_real(game + "/a/b/c.txt"), "hello");
    EXPECT_TRUE(fs::exists(game + "/t.txt"));
    EXPECT_EQ(fs::file_size(game + "/t.txt"), 0u);
    EXPECT_EQ(read_real(base + "/r/x.txt"), "root+");
    EXPECT_TRUE(temp_leftovers(game).empty());
}

TEST_F(BindingsTest, WritePathsThatLeaveTheirDirectoryAreRefused)
{
    fs::create_directories(base);
    const std::string absolute = temp_root + "/abs_target.txt";
    const std::vector<std::string> paths = {
        "../escaped.txt", "a/../../escaped.txt", "a/..", "..", absolute, "a\\\\b", "a\\0b", "exists\\0tail", "",
    };
    std::ofstream(game + "/exists") << "kept";
    const auto game_before = tree(game);
    for (const char *method : {"write", "append", "write_root", "append_root"}) {
        for (const auto &p : paths) {
            const std::string code = std::string("FFI::File.new.") + method + "(\"" + p + "\", \"data\")";
            EXPECT_EQ(run(code), "false") << code;
        }
    }
    EXPECT_EQ(tree(game), game_before);
    EXPECT_TRUE(tree(base).empty());
    EXPECT_FALSE(fs::exists(temp_root + "/escaped.txt"));
    EXPECT_FALSE(fs::exists(absolute));
    EXPECT_EQ(read_real(game + "/exists"), "kept");
}

TEST_F(BindingsTest, FailedWholeFileWriteKeepsThePreviousFile)
{
    // The target is a directory: the rename cannot happen (for root too).
    fs::create_directories(game + "/slot");
    std::ofstream(game + "/slot/inside.txt") << "inside";
    EXPECT_EQ(run(R"(FFI::File.new.write("slot", "new"))"), "false");
    EXPECT_TRUE(fs::is_directory(game + "/slot"));
    EXPECT_EQ(read_real(game + "/slot/inside.txt"), "inside");

    // The data cannot be written in full: the file size limit stops it
    // part way, as a full disk would.
    std::ofstream(game + "/save.txt") << "old content";
    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    void (*old_handler)(int) = signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 8;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const std::string result = run(R"(FFI::File.new.write("save.txt", "x" * 64))");
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, old_handler);
    EXPECT_EQ(result, "false");
    EXPECT_EQ(read_real(game + "/save.txt"), "old content");
    EXPECT_TRUE(temp_leftovers(game).empty());
}

TEST_F(BindingsTest, WholeFileWriteReplacesThroughSymlinksAndKeepsPermissions)
{
    std::ofstream(game + "/real.txt") << "a";
    fs::create_symlink("real.txt", game + "/link.txt");
    chmod((game + "/real.txt").c_str(), 0640);
    EXPECT_EQ(run(R"(FFI::File.new.write("link.txt", "b"))"), "true");
    EXPECT_TRUE(fs::is_symlink(game + "/link.txt"));
    EXPECT_EQ(read_real(game + "/real.txt"), "b");
    struct stat st;
    ASSERT_EQ(stat((game + "/real.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

// FFI::File queries

TEST_F(BindingsTest, QueriesAnswerTheirFailureValueForMissingOrUnusablePaths)
{
    std::ofstream(game + "/exists") << "here";
    expect_cases({
        {R"(FFI::File.new.read("exists"))", R"("here")"},
        {R"(FFI::File.new.mtime("missing"))", "-1"},
        {R"(FFI::File.new.stat("missing"))", "nil"},
        {R"(FFI::File.new.read("missing"))", "nil"},
        {R"(FFI::File.new.path_exists("missing"))", "false"},
        {R"(FFI::File.new.list("missing"))", "[]"},
        // A NUL byte must not shorten the path to "exists".
        {R"(FFI::File.new.read("exists\0tail"))", "nil"},
        {R"(FFI::File.new.stat("exists\0tail"))", "nil"},
        {R"(FFI::File.new.mtime("exists\0tail"))", "-1"},
        {R"(FFI::File.new.path_exists("exists\0tail"))", "false"},
        {R"(FFI::File.new.list(".\0tail"))", "[]"},
        {R"(FFI::File.new.load_image("exists"))", "nil"},
    });
}

TEST_F(BindingsTest, StatListAndMtimeDescribeFiles)
{
    ASSERT_EQ(run(R"(f = FFI::File.new; [f.write("s/one.txt", "12345"), f.write("s/two.txt", "")])"), "[true, true]");
    expect_cases({
        {R"(FFI::File.new.stat("s/one.txt").keys)",
         "[:path, :file_size, :mod_time, :create_time, :access_time, :readonly, :file_type]"},
        {R"(s = FFI::File.new.stat("s/one.txt"); [s[:path], s[:file_size], s[:readonly], s[:file_type]])",
         R"(["s/one.txt", 5, false, :regular])"},
        {R"(FFI::File.new.stat("s")[:file_type])", ":directory"},
        {R"(f = FFI::File.new; f.mtime("s/one.txt") == f.stat("s/one.txt")[:mod_time])", "true"},
        {R"(FFI::File.new.mtime("s/one.txt") > 1_000_000_000)", "true"},
        {R"(FFI::File.new.list("s").sort)", R"(["one.txt", "two.txt"])"},
        {R"(FFI::File.new.path_exists("s"))", "true"},
    });
}

TEST_F(BindingsTest, DeleteRemovesEntriesAndRaisesWithThePhysfsErrorName)
{
    std::ofstream(game + "/gone.txt") << "x";
    fs::create_directories(game + "/empty_dir");
    fs::create_directories(game + "/full_dir");
    std::ofstream(game + "/full_dir/f") << "x";
    expect_cases({
        {R"(FFI::File.new.delete("gone.txt"))", "nil"},
        {R"(FFI::File.new.path_exists("gone.txt"))", "false"},
        {R"(FFI::File.new.delete("empty_dir"))", "nil"},
        {R"(FFI::File.new.delete("missing.txt"))", "RuntimeError: Error occurred in delete_file: PHYSFS_ERR_NOT_FOUND"},
        {R"(FFI::File.new.delete("full_dir"))", "RuntimeError: Error occurred in delete_file: PHYSFS_ERR_DIR_NOT_EMPTY"},
        {R"(FFI::File.new.delete("full_dir/f\0tail"))",
         "RuntimeError: Error occurred in delete_file: PHYSFS_ERR_BAD_FILENAME"},
    });
    EXPECT_FALSE(fs::exists(game + "/gone.txt"));
    EXPECT_FALSE(fs::exists(game + "/empty_dir"));
    EXPECT_TRUE(fs::exists(game + "/full_dir/f"));
}

TEST_F(BindingsTest, MountPutsADirectoryInFrontAtItsOwnName)
{
    const std::string extra = temp_root + "/mount_src";
    fs::create_directories(extra);
    std::ofstream(extra + "/m.txt") << "mounted";
    const std::string quoted = "\"" + extra + "\"";
    EXPECT_EQ(run("FFI::File.new.mount(" + quoted + ")"), "nil");
    EXPECT_EQ(run("FFI::File.new.mount(" + quoted + ")"), "nil");
    EXPECT_EQ(run("FFI::File.new.read(" + quoted + " + \"/m.txt\")"), "\"mounted\"");
    int mounted = 0;
    char **list = PHYSFS_getSearchPath();
    for (char **p = list; *p; p++) {
        mounted += extra == *p;
    }
    EXPECT_EQ(std::string(list[0]), extra);
    PHYSFS_freeList(list);
    EXPECT_EQ(mounted, 1);
    PHYSFS_unmount(extra.c_str());
}

TEST_F(BindingsTest, DirectoriesAreTheOnesHandedIn)
{
    EXPECT_EQ(run_string("FFI::File.new.get_game_dir"), game);
    EXPECT_EQ(run_string("FFI::File.new.get_base_dir"), base);
}

TEST_F(BindingsTest, NonStringArgumentsRaiseTypeError)
{
    for (const char *code : {
             "FFI::File.new.stat(1)",
             "FFI::File.new.mount(nil)",
             "FFI::File.new.read(:name)",
             "FFI::File.new.write(1, 'x')",
             "FFI::File.new.write('x', 2)",
             "MRB.new.eval(5)",
             "MRB.new.parse(nil)",
             "FFI::Misc.new.setenv(1, 'x', true)",
             "FFI::Misc.new.setenv('MF_BIND_X', 2, true)",
             "FFI::Misc.new.getenv(nil)",
         }) {
        EXPECT_EQ(run(code).rfind("TypeError: ", 0), 0u) << code << " -> " << run(code);
    }
}

TEST_F(BindingsTest, ClassesHaveTheirMethods)
{
    expect_cases({
        {"FFI::File.instance_methods(false).sort",
         "[:append, :append_root, :delete, :get_base_dir, :get_game_dir, :list, :load_image, :mount, :mtime, "
         ":path_exists, :read, :stat, :write, :write_root]"},
        {"FFI::Misc.instance_methods(false).sort",
         "[:android_get_sharedPreferences, :calcspritebox, :calcstringbox, :create_uuid, :cvar_get, :cvar_islocked, "
         ":cvar_register, :cvar_set, :device_size, :get_locale, :get_thermal_state, :getclipboard, :getenv, "
         ":ios_get_standardUserDefaults, :log, :request_quit_fatal, :say, :setclipboard, :setenv, :touch_enabled?]"},
        {"MRB.instance_methods(false).sort", "[:eval, :parse]"},
        {"[FFI::MRB.equal?(MRB), MRB.name, FFI::File.superclass, FFI::CPtr.name]",
         R"([true, "MRB", Object, "FFI::CPtr"])"},
    });
}

// MRB

TEST_F(BindingsTest, ParseAnswersSyntaxOkOrErrorLinesWithoutRunning)
{
    expect_cases({
        {R"(MRB.new.parse("1 + 2 * 3"))", R"("Syntax OK")"},
        {R"(MRB.new.parse(""))", R"("Syntax OK")"},
        {R"(MRB.new.parse("$ran = true"); $ran)", "nil"},
        {R"(MRB.new.parse("def f\n  $ran2 = 1\n"); $ran2)", "nil"},
    });
    for (const char *code : {"def f\\n  1\\n", "x = (1 +", "class\\n", "1 +\\n\\n)"}) {
        const std::string text = run_string(std::string("MRB.new.parse(\"") + code + "\")");
        ASSERT_FALSE(text.empty()) << code;
        EXPECT_EQ(text.back(), '\n') << code;
        size_t start = 0;
        while (start < text.size()) {
            const size_t end = text.find('\n', start);
            ASSERT_NE(end, std::string::npos);
            const std::string line = text.substr(start, end - start);
            int l = 0;
            int c = 0;
            char msg[256] = "";
            EXPECT_EQ(sscanf(line.c_str(), "line %d:%d: %255[^\n]", &l, &c, msg), 3) << code << ": " << line;
            EXPECT_GE(l, 1) << line;
            EXPECT_LE(line.size() + 1, 254u) << line;
            start = end + 1;
        }
    }
}

TEST_F(BindingsTest, EvalRunsAtTopLevelAndRaisesIntoTheCaller)
{
    expect_cases({
        {R"(MRB.new.eval("$x = 6 * 7"))", "nil"},
        {"$x", "42"},
        {R"(MRB.new.eval(""))", "nil"},
        {R"(FFI::MRB.new.eval("def made_by_eval; :yes; end"); made_by_eval)", ":yes"},
        {R"(MRB.new.eval("class EvalMade; end"); Object.const_defined?(:EvalMade))", "true"},
        {R"(MRB.new.eval("$self_text = self.to_s"); $self_text)", R"("main")"},
        {R"(def from_method; MRB.new.eval("$deep = 7 / 2"); :after; end; [from_method, $deep])", "[:after, 3.5]"},
        {R"(begin; MRB.new.eval("raise ArgumentError, 'boom'"); rescue ArgumentError => e; e.message; end)",
         R"("boom")"},
        {R"(begin; MRB.new.eval("[1].fetch 5"); :no; rescue IndexError; :caught; end)", ":caught"},
        {R"(MRB.new.eval("raise 'plain'"))", "RuntimeError: plain"},
    });
    // Syntax errors are ScriptErrors, outside StandardError, with the
    // parser's "line %d:%d: %s" text.
    const std::string syntax =
        run_string(R"(begin; MRB.new.eval("def broken("); rescue ScriptError => e; "#{e.class}|#{e.message}"; end)");
    EXPECT_EQ(syntax.rfind("SyntaxError|line 1:", 0), 0u) << syntax;
    EXPECT_EQ(run(R"(r = (MRB.new.eval("1 +") rescue :standard); r)"), "SyntaxError: line 1:3: syntax error, unexpected $end\n");
    EXPECT_EQ(run(R"(r = begin; MRB.new.eval("1 +"); rescue SyntaxError; :caught; end; [r, MRB.new.parse("1")])"),
              R"([:caught, "Syntax OK"])");
    EXPECT_EQ(run(R"(MRB.new.eval("end"))").rfind("SyntaxError: line ", 0), 0u);
}

// Array#value, type checks, support functions

TEST_F(BindingsTest, ArrayValueAnswersNilOutsideTheArray)
{
    expect_cases({
        {"[1, 2, 3].value(-1)", "3"},
        {"[1, 2, 3].value(0)", "1"},
        {"[1, 2, 3].value(2)", "3"},
        {"[1, 2, 3].value(3)", "nil"},
        {"[1, 2, 3].value(-3)", "1"},
        {"[1, 2, 3].value(-4)", "nil"},
        {"[].value(0)", "nil"},
        {"[1, 2, 3].value(1.9)", "2"},
    });
    EXPECT_EQ(run("[1].value('0')").rfind("TypeError: ", 0), 0u);
}

static const mrb_data_type other_extension_cptr = {"CPtr", nullptr};
static const mrb_data_type unrelated_type = {"Vector", nullptr};

TEST_F(BindingsTest, TypeChecksNameTheOffendingValue)
{
    mrb_define_method(
        mrb, mrb->object_class, "check_bool",
        [](mrb_state *m, mrb_value) {
            mrb_value v;
            mrb_get_args(m, "o", &v);
            mnf_typecheck_bool(m, v);
            return mrb_true_value();
        },
        MRB_ARGS_REQ(1));
    mrb_define_method(
        mrb, mrb->object_class, "check_cptr",
        [](mrb_state *m, mrb_value) {
            mrb_value v;
            mrb_get_args(m, "o", &v);
            mnf_typecheck_aggregate(m, v, mrb_class_get(m, "String"), &other_extension_cptr);
            return mrb_true_value();
        },
        MRB_ARGS_REQ(1));
    mrb_define_method(
        mrb, mrb->object_class, "check_vector",
        [](mrb_state *m, mrb_value) {
            mrb_value v;
            mrb_get_args(m, "o", &v);
            mnf_typecheck_aggregate(m, v, mrb_class_get(m, "Array"), &unrelated_type);
            return mrb_true_value();
        },
        MRB_ARGS_REQ(1));
    mrb_define_method(
        mrb, mrb->object_class, "check_float",
        [](mrb_state *m, mrb_value) {
            mrb_value v;
            mrb_get_args(m, "o", &v);
            mnf_typecheck_float(m, v);
            return mrb_true_value();
        },
        MRB_ARGS_REQ(1));
    mrb_define_method(
        mrb, mrb->object_class, "check_int",
        [](mrb_state *m, mrb_value) {
            mrb_value v;
            mrb_get_args(m, "o", &v);
            mnf_typecheck_int(m, v);
            return mrb_true_value();
        },
        MRB_ARGS_REQ(1));

    expect_cases({
        {"[check_bool(nil), check_bool(true), check_bool(false)]", "[true, true, true]"},
        {"check_bool(5)", "TypeError: wrong argument type Fixnum (expected true or false)"},
        {"check_bool(:a)", "TypeError: wrong argument type Symbol (expected true or false)"},
        {"check_bool(1.5)", "TypeError: wrong argument type 1.5 (expected true or false)"},
        {"check_bool('s')", "TypeError: wrong argument type String (expected true or false)"},
        {"check_bool([])", "TypeError: wrong argument type Array (expected true or false)"},
        // Same data type name from another extension: accepted.
        {"check_cptr(FFI::CPtr.new)", "true"},
        {"check_vector(FFI::CPtr.new)", "TypeError: wrong argument type FFI::CPtr (expected Array)"},
        {"check_vector(3)", "TypeError: wrong argument type Fixnum (expected Array)"},
        {"check_vector(nil)", "TypeError: wrong argument type nil (expected Array)"},
        {"[check_float(1.5), check_int(2)]", "[true, true]"},
    });
    EXPECT_EQ(run("check_float(1)").rfind("TypeError: ", 0), 0u);
    EXPECT_EQ(run("check_int(1.0)").rfind("TypeError: ", 0), 0u);
}

TEST_F(BindingsTest, ErrorClassesAreLookedUpAtCallTime)
{
    EXPECT_EQ(mnf_getruntime_error(mrb), mrb_class_get(mrb, "RuntimeError"));
    EXPECT_EQ(mnf_getargument_error(mrb), mrb_class_get(mrb, "ArgumentError"));

    ASSERT_EQ(run("Object.send(:remove_const, :ArgumentError); Object.const_set(:ArgumentError, Class.new); 1"), "1");
    EXPECT_EQ(mnf_getargument_error(mrb), mrb->eException_class);

    ASSERT_EQ(run("Object.send(:remove_const, :RuntimeError); Object.const_set(:RuntimeError, 5); 1"), "1");
    mrb_bool failed = FALSE;
    mrb_value exc = mrb_protect_error(
        mrb,
        [](mrb_state *m, void *) {
            mnf_getruntime_error(m);
            return mrb_nil_value();
        },
        nullptr, &failed);
    ASSERT_TRUE(failed);
    mrb_value msg = mrb_funcall(mrb, exc, "message", 0);
    EXPECT_EQ(std::string(RSTRING_PTR(msg), RSTRING_LEN(msg)), "exception corrupted");
}

TEST_F(BindingsTest, SupportFunctionsBoxFloatsFreeForeignObjectsAndHoldPointers)
{
    mrb_value f = mnf_float_value(mrb, 2.5);
    ASSERT_TRUE(mrb_float_p(f));
    EXPECT_EQ(mrb_float(f), 2.5);

    // Owned: record and pointer are freed (the leak checker sees any miss).
    auto *owned = (mnf_foreign_object *)malloc(sizeof(mnf_foreign_object));
    *owned = {MNF_FOREIGN_POINTER, malloc(32), 1};
    mnf_free_foreign_object(mrb, owned);
    // Not owned, or not a pointer: only the record goes.
    void *kept = malloc(16);
    auto *borrowed = (mnf_foreign_object *)malloc(sizeof(mnf_foreign_object));
    *borrowed = {MNF_FOREIGN_POINTER, kept, 0};
    mnf_free_foreign_object(mrb, borrowed);
    auto *other_kind = (mnf_foreign_object *)malloc(sizeof(mnf_foreign_object));
    *other_kind = {0, kept, 1};
    mnf_free_foreign_object(mrb, other_kind);
    free(kept);
    mnf_free_foreign_object(mrb, nullptr);

    int a = 0;
    int b = 0;
    mrb_value p = ffi_cptr_new(mrb, &a);
    ASSERT_TRUE(mrb_data_p(p));
    EXPECT_STREQ(mrb_obj_classname(mrb, p), "FFI::CPtr");
    EXPECT_STREQ(DATA_TYPE(p)->struct_name, "CPtr");
    EXPECT_EQ(DATA_PTR(p), &a);
    ffi_cptr_set(p, &b);
    EXPECT_EQ(DATA_PTR(p), &b);
    mrb_value s = mrb_str_new_lit(mrb, "not a pointer");
    ffi_cptr_set(s, &b);
    EXPECT_EQ(RSTRING_LEN(s), 13);

    mrb_value fresh = mrb_load_string(mrb, "FFI::CPtr.new");
    ASSERT_EQ(mrb->exc, nullptr);
    ASSERT_TRUE(mrb_data_p(fresh));
    EXPECT_EQ(DATA_PTR(fresh), nullptr);
    EXPECT_STREQ(DATA_TYPE(fresh)->struct_name, "CPtr");
    EXPECT_EQ(run("FFI::CPtr.new(1)").rfind("ArgumentError: ", 0), 0u);
}

TEST_F(BindingsTest, InitRecordsItsStartTimeAndRefusesAFrozenFfi)
{
    EXPECT_GE(ffi_bindings_start_time(), ticks_before_init);
    EXPECT_LE(ffi_bindings_start_time(), SDL_GetTicks());

    mrb_state *other = mrb_open();
    ASSERT_NE(other, nullptr);
    mrb_load_string(other, "module FFI; end; FFI.freeze");
    ASSERT_EQ(other->exc, nullptr);
    EXPECT_EQ(ffi_init(game.c_str(), base.c_str(), other, nullptr), 0);
    ASSERT_NE(other->exc, nullptr);
    EXPECT_STREQ(mrb_obj_classname(other, mrb_obj_value(other->exc)), "FrozenError");
    EXPECT_NE(std::string(SDL_GetError()).find("FrozenError"), std::string::npos) << SDL_GetError();
    other->exc = nullptr;
    mrb_close(other);
}

// FFI::Misc

TEST_F(BindingsTest, CvarsRegisterReadAndSetFromScripts)
{
    expect_cases({
        {R"(m = FFI::Misc.new; [m.cvar_register("t.s", "d", "string", "hello"), m.cvar_get("t.s")])", R"([true, "hello"])"},
        {R"(m = FFI::Misc.new; [m.cvar_register("t.i", "d", "int", "-7"), m.cvar_get("t.i")])", "[true, -7]"},
        {R"(m = FFI::Misc.new; [m.cvar_register("t.u", "d", "uint", "4000000000"), m.cvar_get("t.u")])",
         "[true, 4000000000]"},
        {R"(m = FFI::Misc.new; [m.cvar_register("t.f", "d", "float", "0.5"), m.cvar_get("t.f")])", "[true, 0.5]"},
        {R"(m = FFI::Misc.new; [m.cvar_register("t.b", "d", "bool", "TRUE"), m.cvar_get("t.b")])", "[true, true]"},
        {R"(m = FFI::Misc.new; [m.cvar_register("t.e", "d", "string", ""), m.cvar_get("t.e")])", R"([true, ""])"},
        {R"(FFI::Misc.new.cvar_get("t.none"))", "nil"},
        {R"(m = FFI::Misc.new; [m.cvar_set("t.i", "12"), m.cvar_get("t.i")])", "[true, 12]"},
        {R"(m = FFI::Misc.new; [m.cvar_set("t.s", "changed"), m.cvar_get("t.s")])", R"([true, "changed"])"},
        {R"(FFI::Misc.new.cvar_islocked("t.i"))", "false"},
        {R"(FFI::Misc.new.cvar_islocked("t.none"))", "false"},
    });
    ASSERT_TRUE(cvar_lock("t.i"));
    expect_cases({
        {R"(FFI::Misc.new.cvar_islocked("t.i"))", "true"},
        {R"(m = FFI::Misc.new; [m.cvar_set("t.i", "1"), m.cvar_get("t.i")])", "[false, 12]"},
    });

    drain_log();
    EXPECT_EQ(run(R"(FFI::Misc.new.cvar_register("t.d", "d", "double", "1.0"))"), "false");
    const logged expected = {LOG_LEVEL_ERROR, "Engine",
                             "Can't register cvar 't.d' with unknown type 'double' (try 'string', 'int', 'uint', "
                             "'float', or 'bool')."};
    const auto entries = drain_log();
    EXPECT_NE(std::find(entries.begin(), entries.end(), expected), entries.end());
    EXPECT_EQ(run(R"(FFI::Misc.new.cvar_get("t.d"))"), "nil");
}

TEST_F(BindingsTest, LogWritesUnderTheGivenSubsystemOrGame)
{
    drain_log();
    ASSERT_EQ(run(R"(m = FFI::Misc.new; m.log(nil, 2, "hello"); m.log("Render", 3, "warned"); m.log(nil, -5, "low"))"),
              "nil");
    const auto entries = drain_log();
    const std::vector<logged> expected = {
        {LOG_LEVEL_INFO, "Game", "hello"},
        {LOG_LEVEL_WARN, "Render", "warned"},
        {LOG_LEVEL_SPAM, "Game", "low"},
    };
    EXPECT_EQ(entries, expected);
}

static std::vector<std::string> sdl_log_lines;
static void capture_sdl_log(void *, int, SDL_LogPriority, const char *message)
{
    sdl_log_lines.push_back(message);
}

TEST_F(BindingsTest, SetenvOverwritesOnlyWithTrue)
{
    unsetenv("MF_BIND_T");
    SDL_LogOutputFunction old_fn;
    void *old_data;
    SDL_LogGetOutputFunction(&old_fn, &old_data);
    SDL_LogSetOutputFunction(capture_sdl_log, nullptr);
    sdl_log_lines.clear();
    expect_cases({
        {R"(FFI::Misc.new.getenv("MF_BIND_T"))", "nil"},
        {R"(m = FFI::Misc.new; [m.setenv("MF_BIND_T", "a", false), m.getenv("MF_BIND_T")])", R"([nil, "a"])"},
        {R"(m = FFI::Misc.new; m.setenv("MF_BIND_T", "b", 1); m.getenv("MF_BIND_T"))", R"("a")"},
        {R"(m = FFI::Misc.new; m.setenv("MF_BIND_T", "b", nil); m.getenv("MF_BIND_T"))", R"("a")"},
        {R"(m = FFI::Misc.new; m.setenv("MF_BIND_T", "c", true); m.getenv("MF_BIND_T"))", R"("c")"},
    });
    SDL_LogSetOutputFunction(old_fn, old_data);
    const std::vector<std::string> expected = {
        "SDL_setenv(MF_BIND_T, a, 0) = 0",
        "SDL_setenv(MF_BIND_T, b, 0) = 0",
        "SDL_setenv(MF_BIND_T, b, 0) = 0",
        "SDL_setenv(MF_BIND_T, c, 1) = 0",
    };
    EXPECT_EQ(sdl_log_lines, expected);
    unsetenv("MF_BIND_T");
}

static void expect_uuid_format(const std::string &u)
{
    ASSERT_EQ(u.size(), 36u) << u;
    for (size_t i = 0; i < u.size(); i++) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            EXPECT_EQ(u[i], '-') << u;
        } else {
            EXPECT_NE(std::string("0123456789abcdef").find(u[i]), std::string::npos) << u;
        }
    }
    EXPECT_EQ(u[14], '4') << u;
    EXPECT_NE(std::string("89ab").find(u[19]), std::string::npos) << u;
}

TEST_F(BindingsTest, UuidsAreVersionFourAndDistinct)
{
    const std::string all = run_string("Array.new(200) { FFI::Misc.new.create_uuid }.join(' ')");
    std::set<std::string> seen;
    for (size_t start = 0; start < all.size(); start += 37) {
        const std::string u = all.substr(start, 36);
        expect_uuid_format(u);
        seen.insert(u);
    }
    EXPECT_EQ(seen.size(), 200u);
}

// Prints one UUID when started by the test below; skipped otherwise.
TEST_F(BindingsTest, ChildPrintsUuid)
{
    if (!getenv("MF_BINDINGS_PRINT_UUID")) {
        GTEST_SKIP() << "runs only as a child of UuidsDifferBetweenProcesses";
    }
    printf("uuid=%s\n", run_string("FFI::Misc.new.create_uuid").c_str());
}

TEST_F(BindingsTest, UuidsDifferBetweenProcesses)
{
    char exe[4096];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof(exe) - 1);
    ASSERT_GT(n, 0);
    exe[n] = '\0';
    const std::string cmd = std::string("MF_BINDINGS_PRINT_UUID=1 '") + exe +
                            "' --gtest_filter=BindingsTest.ChildPrintsUuid 2>/dev/null";
    std::vector<std::string> uuids;
    for (int i = 0; i < 2; i++) {
        FILE *p = popen(cmd.c_str(), "r");
        ASSERT_NE(p, nullptr);
        char line[512];
        std::string found;
        while (fgets(line, sizeof(line), p)) {
            if (strncmp(line, "uuid=", 5) == 0) {
                found.assign(line + 5, strcspn(line + 5, "\n"));
            }
        }
        EXPECT_EQ(pclose(p), 0);
        expect_uuid_format(found);
        uuids.push_back(found);
    }
    ASSERT_EQ(uuids.size(), 2u);
    EXPECT_NE(uuids[0], uuids[1]);
}

TEST_F(BindingsTest, PlatformQueriesAnswerNothingHere)
{
    expect_cases({
        {"FFI::Misc.new.touch_enabled?", "false"},
        {"FFI::Misc.new.get_thermal_state", "nil"},
        {"FFI::Misc.new.device_size", "[]"},
        {"FFI::Misc.new.android_get_sharedPreferences(1)", "nil"},
        {"FFI::Misc.new.ios_get_standardUserDefaults(nil)", "{}"},
        {"FFI::Misc.new.request_quit_fatal('why')", "nil"},
        {"FFI::Misc.new.say('hello')", "nil"},
        {"FFI::Misc.new.getclipboard.class", "String"},
        {"[true, false].include?(FFI::Misc.new.setclipboard('x'))", "true"},
        {"[String, NilClass].include?(FFI::Misc.new.get_locale.class)", "true"},
    });
}

}  // namespace
