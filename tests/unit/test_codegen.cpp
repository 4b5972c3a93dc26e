// Code inspection and literal evaluation through the interpreter: the
// carried node numbering against the installed parser, ORB::Codegen.eval_hash
// accepting literal data (negative numbers included) and refusing every
// other construct without running it, and ORB::Codegen.dump with its
// deprecated FFI::Compiler#dump_codegen.
#include <gtest/gtest.h>

#include "mruby_run.h"

#include "log_capture.h"
#include "temp_vfs.h"

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <mruby.h>
#include <mruby/compile.h>
#include <mruby/string.h>
#include <mruby/variable.h>

#include "bindings/ffi.h"
#include "bindings/node_types.h"
#include "config/cvar.h"
#include "log/log.h"

namespace fs = std::filesystem;

namespace {

struct ruby_case {
    std::string code;
    std::string expected;
};

const char *const disallowed_prefix = "RuntimeError: * EXCEPTION: ~ORB::Codegen.eval_hash~ failed.\n"
                                      "Encountered disallowed node of type: ";

// A fresh interpreter with the bindings; the log is ready at spam level
// without file or stdout so logged messages can be inspected. The game
// folder is where the sentinels of refused code would leave files.
class CodegenTest : public ::testing::Test {
protected:
    mrb_state *mrb = nullptr;
    std::string game;

    void SetUp() override
    {
        cvar_quit();
        cvar_set("log.level", "spam");
        cvar_set("log.stdout", "false");
        cvar_set("log.filename", "");
        ASSERT_TRUE(log_init());
        ASSERT_TRUE(log_ready());
        drain_log();

        game = temp_root + "/" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::create_directories(game);
        mrb = mrb_open();
        ASSERT_NE(mrb, nullptr);
        ASSERT_TRUE(ffi_init(game.c_str(), game.c_str(), mrb, nullptr)) << SDL_GetError();
    }

    void TearDown() override
    {
        if (mrb) {
            mrb_close(mrb);
        }
        log_quit();
        cvar_quit();
    }

    std::string run(const std::string &code) { return mruby_run(mrb, code); }

    // ORB::Codegen.eval_hash of text given as bytes (no Ruby quoting).
    std::string eval_hash(const std::string &text)
    {
        mrb_gv_set(mrb, mrb_intern_lit(mrb, "$text"), mrb_str_new(mrb, text.data(), (mrb_int)text.size()));
        return run("ORB::Codegen.eval_hash($text)");
    }
};

// The node type at a path of car ('a') and cdr ('d') steps from the last
// top-level statement of code, with the parser's own dump of the tree.
struct parsed_node {
    int type;
    std::string dump;
};

parsed_node parse_node(mrb_state *mrb, const std::string &code, const std::string &path)
{
    mrbc_context *cxt = mrbc_context_new(mrb);
    cxt->capture_errors = TRUE;
    cxt->dump_result = TRUE;
    testing::internal::CaptureStdout();
    mrb_parser_state *p = mrb_parse_nstring(mrb, code.data(), code.size(), cxt);
    parsed_node out = {-1, testing::internal::GetCapturedStdout()};
    if (p && p->nerr == 0 && p->tree) {
        EXPECT_EQ(node_type_of(p->tree), NODE_SCOPE) << code;
        const mrb_ast_node *body = p->tree->cdr->cdr;
        EXPECT_EQ(node_type_of(body), NODE_BEGIN) << code;
        const mrb_ast_node *statements = body->cdr;
        while (statements->cdr) {
            statements = statements->cdr;
        }
        const mrb_ast_node *n = statements->car;
        for (char step : path) {
            n = step == 'a' ? n->car : n->cdr;
        }
        out.type = node_type_of(n);
    } else {
        ADD_FAILURE() << "does not parse: " << code;
    }
    if (p) {
        mrb_parser_free(p);
    }
    mrbc_context_free(mrb, cxt);
    return out;
}

// Node numbering

TEST_F(CodegenTest, NodeNumberingMatchesTheInstalledParser)
{
    struct numbering_case {
        const char *code;
        const char *path;
        const char *name;
    };
    // Every type the parser produces. The ones it never produces (METHOD,
    // WHEN, ITER, NOT, CDECL, CVASGN, CVDECL, ZARRAY, DVAR, MATCH,
    // DREGX_ONCE, TO_ARY, SVALUE, DEFINED, POSTEXE) sit between checked
    // neighbours, so their places are pinned too.
    const std::vector<numbering_case> cases = {
        {"f {}", "dddadd", "NODE_BLOCK"},
        {"if a then end", "", "NODE_IF"},
        {"case 1 when 1 then 2 end", "", "NODE_CASE"},
        {"while a do end", "", "NODE_WHILE"},
        {"until a do end", "", "NODE_UNTIL"},
        {"for i in a do end", "", "NODE_FOR"},
        {"break", "", "NODE_BREAK"},
        {"next", "", "NODE_NEXT"},
        {"redo", "", "NODE_REDO"},
        {"retry", "", "NODE_RETRY"},
        {"(1)", "", "NODE_BEGIN"},
        {"a rescue 1", "", "NODE_RESCUE"},
        {"begin; 1; ensure; 2; end", "", "NODE_ENSURE"},
        {"a && b", "", "NODE_AND"},
        {"a || b", "", "NODE_OR"},
        {"a, b = 1", "", "NODE_MASGN"},
        {"a = 1", "", "NODE_ASGN"},
        {"a ||= 1", "", "NODE_OP_ASGN"},
        {"a.b", "", "NODE_CALL"},
        {"a&.b", "", "NODE_SCALL"},
        {"f(1)", "", "NODE_FCALL"},
        {"super(1)", "", "NODE_SUPER"},
        {"super", "", "NODE_ZSUPER"},
        {"[1]", "", "NODE_ARRAY"},
        {"{a: 1}", "", "NODE_HASH"},
        {"f(a: 1)", "dddada", "NODE_KW_HASH"},
        {"return 1", "", "NODE_RETURN"},
        {"yield", "", "NODE_YIELD"},
        {"a = 1; a", "", "NODE_LVAR"},
        {"$a", "", "NODE_GVAR"},
        {"@a", "", "NODE_IVAR"},
        {"A", "", "NODE_CONST"},
        {"@@a", "", "NODE_CVAR"},
        {"proc { _1 }", "dddadddddada", "NODE_NVAR"},
        {"$1", "", "NODE_NTH_REF"},
        {"$&", "", "NODE_BACK_REF"},
        {"1", "", "NODE_INT"},
        {"1.5", "", "NODE_FLOAT"},
        {"-1", "", "NODE_NEGATE"},
        {"-> {}", "", "NODE_LAMBDA"},
        {":a", "", "NODE_SYM"},
        {"'a'", "", "NODE_STR"},
        {"\"#{a}\"", "", "NODE_DSTR"},
        {"`a`", "", "NODE_XSTR"},
        {"`#{a}`", "", "NODE_DXSTR"},
        {"/a/", "", "NODE_REGX"},
        {"/#{a}/", "", "NODE_DREGX"},
        {"def f(a, k: 1, **r, &b); end", "dddaaa", "NODE_ARG"},
        {"def f(a, k: 1, **r, &b); end", "dddadddd", "NODE_ARGS_TAIL"},
        {"def f(a, k: 1, **r, &b); end", "dddadddddaa", "NODE_KW_ARG"},
        {"def f(a, k: 1, **r, &b); end", "dddadddddda", "NODE_KW_REST_ARGS"},
        {"[*a]", "da", "NODE_SPLAT"},
        {"f(&b)", "dddadd", "NODE_BLOCK_ARG"},
        {"def f; end", "", "NODE_DEF"},
        {"def self.f; end", "", "NODE_SDEF"},
        {"alias a b", "", "NODE_ALIAS"},
        {"undef a", "", "NODE_UNDEF"},
        {"class A; end", "", "NODE_CLASS"},
        {"module A; end", "", "NODE_MODULE"},
        {"class << self; end", "", "NODE_SCLASS"},
        {"A::B", "", "NODE_COLON2"},
        {"::A", "", "NODE_COLON3"},
        {"1..2", "", "NODE_DOT2"},
        {"1...2", "", "NODE_DOT3"},
        {"self", "", "NODE_SELF"},
        {"nil", "", "NODE_NIL"},
        {"true", "", "NODE_TRUE"},
        {"false", "", "NODE_FALSE"},
        {":\"#{a}\"", "", "NODE_DSYM"},
        {"<<A\nx\nA\n", "", "NODE_HEREDOC"},
        {"%w[a b]", "dda", "NODE_LITERAL_DELIM"},
        {"%w[a b]", "", "NODE_WORDS"},
        {"%i[a b]", "", "NODE_SYMBOLS"},
    };
    for (const auto &c : cases) {
        const parsed_node n = parse_node(mrb, c.code, c.path);
        const char *ours = node_type_name(n.type);
        EXPECT_STREQ(ours ? ours : "(none)", c.name) << c.code << " gave type " << n.type;
        // The parser's dump names the node with its own table.
        EXPECT_NE(n.dump.find(std::string(" ") + c.name), std::string::npos) << c.code << "\n" << n.dump;
    }
    EXPECT_EQ(NODE_SCOPE, 1);
    EXPECT_EQ(NODE_LAST, 89);
    EXPECT_EQ(node_type_name(NODE_LAST), nullptr);
    EXPECT_EQ(node_type_name(-1), nullptr);
    EXPECT_STREQ(node_type_name(NODE_METHOD), "NODE_METHOD");
}

// eval_hash

TEST_F(CodegenTest, EvalHashAnswersLiteralDataAsWritten)
{
    const std::vector<ruby_case> cases = {
        {"{a: 1, b: [2, 3.5], \"c\" => {d: nil, e: true, f: false}}",
         R"({:a=>1, :b=>[2, 3.5], "c"=>{:d=>nil, :e=>true, :f=>false}})"},
        {"[[[]], {}, [{}]]", "[[[]], {}, [{}]]"},
        {"{:entity_id=>1, :x=>10, :name=>\"bob\", :tags=>[:a, :\"b c\"]}",
         R"({:entity_id=>1, :x=>10, :name=>"bob", :tags=>[:a, :"b c"]})"},
        {"{1 => 2, 1.5 => :x, nil => true, [1, 2] => \"k\"}", R"({1=>2, 1.5=>:x, nil=>true, [1, 2]=>"k"})"},
        {"{\n  a: 1,\n  b: 2,\n}\n# trailing comment\n", "{:a=>1, :b=>2}"},
        {"\"plain\"", R"("plain")"},
        {"'single #{x}'", R"("single \#{x}")"},
        {"\"escaped \\#{system('x')} \\\"q\\\" \\n\\xff\"", R"("escaped \#{system('x')} \"q\" \n\xff")"},
        {"\"a\" \"b\"", R"("ab")"},
        {":sym", ":sym"},
        {"0x10", "16"},
        {"0b101", "5"},
        {"1_000", "1000"},
        {"1e20", "1.0e+20"},
        {"", "nil"},
        {"# nothing but a comment", "nil"},
        {"()", "nil"},
        {"(1)", "1"},
        {"1; 2", "2"},
        // Negative numbers, as Hash#to_s writes them.
        {"-1", "-1"},
        {"- 1", "-1"},
        {"-2.5", "-2.5"},
        {"-0.0", "-0.0"},
        {"-1.5e-07", "-1.5e-07"},
        {"-0x10", "-16"},
        {"{a: -1, b: [-2, -3.25], c: {-4 => -5}}", "{:a=>-1, :b=>[-2, -3.25], :c=>{-4=>-5}}"},
        {"-9223372036854775808", "-9223372036854775808"},
        {"9223372036854775807", "9223372036854775807"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(eval_hash(c.code), c.expected) << c.code;
    }
}

TEST_F(CodegenTest, SavedTextRoundTripsThroughToS)
{
    EXPECT_EQ(run(R"(
        h = {entity_id: 3, x: -10, y: -0.5, tiny: -1.0e-300, huge: 1.0e+300,
             s: "q\"uote \#{x} \\ \n \t \e \0 \xff", sym: :"odd sym", q: :a?, list: [-1, [-2, {k: -3}]],
             "str key" => nil, 7 => false}
        # Integers beyond 62 bits are compared through their text: the
        # interpreter's == answers false for two equal ones.
        big = {big: -4611686018427387905, list: [9223372036854775807]}
        [ORB::Codegen.eval_hash(h.to_s) == h, ORB::Codegen.eval_hash(big.to_s).to_s == big.to_s]
    )"),
              "[true, true]");
}

TEST_F(CodegenTest, EvalHashRefusesEveryOtherConstructAndRunsNothing)
{
    // If refused code ran anyway, it would set $ran, leave a file in the
    // game folder, or define the constant or method named sentinel.
    const std::string touch = "touch " + game + "/ran";
    ASSERT_EQ(run(R"(
        $ran = nil
        def system(*args); $ran = args; `#{args.join(" ")}`; end
        module Kernel; def self.exit(*args); $ran = [:exit, args]; end; end
        nil
    )"),
              "nil");
    const std::string sys = "system(\"" + touch + "\")";
    const std::vector<ruby_case> cases = {
        {sys, "NODE_FCALL (28)"},
        {"{a: 1, b: " + sys + "}", "NODE_FCALL (28)"},
        {"system \"" + touch + "\"", "NODE_FCALL (28)"},
        {"bare_identifier", "NODE_FCALL (28)"},
        {"Kernel.exit", "NODE_CALL (26)"},
        {"[1, Kernel.exit(1)]", "NODE_CALL (26)"},
        {"1 + " + sys, "NODE_CALL (26)"},
        {"{a: 1}.each { " + sys + " }", "NODE_CALL (26)"},
        {sys + "&.to_s", "NODE_SCALL (27)"},
        {"\"#{" + sys + "}\"", "NODE_DSTR (53)"},
        {"{a: \"x#{$ran = 1}\"}", "NODE_DSTR (53)"},
        {":\"#{" + sys + "}\"", "NODE_DSYM (84)"},
        {"<<S\n#{" + sys + "}\nS\n", "NODE_HEREDOC (85)"},
        {"1.." + sys, "NODE_DOT2 (76)"},
        {"[1..2]", "NODE_DOT2 (76)"},
        {"[1..." + sys + "]", "NODE_DOT3 (77)"},
        {"[Kernel, " + sys + "]", "NODE_CONST (41)"},
        {"{a: Infinity}", "NODE_CONST (41)"},
        {"{a: Float::INFINITY}", "NODE_COLON2 (74)"},
        {"[::Object, " + sys + "]", "NODE_COLON3 (75)"},
        {"[$ran, " + sys + "]", "NODE_GVAR (39)"},
        {"$ran = 1", "NODE_ASGN (21)"},
        {"x = " + sys, "NODE_ASGN (21)"},
        {"Sentinel = 1", "NODE_ASGN (21)"},
        {"[@ivar, " + sys + "]", "NODE_IVAR (40)"},
        {"`" + touch + "`", "NODE_XSTR (54)"},
        {"{a: `touch #{\"" + game + "/ran\"}`}", "NODE_DXSTR (55)"},
        {"-" + sys, "NODE_NEGATE (49)"},
        {"--1", "NODE_NEGATE (49)"},
        {"-(1)", "NODE_NEGATE (49)"},
        {"-2 ** " + sys, "NODE_NEGATE (49)"},
        {"-> { " + sys + " }", "NODE_LAMBDA (50)"},
        {"[*" + sys + "]", "NODE_SPLAT (63)"},
        {"{**{}}", "NODE_KW_REST_ARGS (62)"},
        {"[a: 1]", "NODE_KW_HASH (34)"},
        {"if true then " + sys + " end", "NODE_IF (3)"},
        {"true && " + sys, "NODE_AND (17)"},
        {sys + " rescue 1", "NODE_RESCUE (15)"},
        {"self", "NODE_SELF (78)"},
        {"/a/", "NODE_REGX (56)"},
        {"%w[a b]", "NODE_WORDS (87)"},
        {"def sentinel; end", "NODE_DEF (67)"},
        {"class Sentinel; end", "NODE_CLASS (71)"},
        {"module Sentinel; end", "NODE_MODULE (72)"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(eval_hash(c.code), disallowed_prefix + c.expected) << c.code;
        EXPECT_EQ(run("[$ran, Object.const_defined?(:Sentinel), Object.new.respond_to?(:sentinel, true)]"),
                  "[nil, false, false]")
            << c.code;
        EXPECT_FALSE(fs::exists(game + "/ran")) << c.code;
    }
    // The sentinels do work when the same code is run directly.
    EXPECT_EQ(run(sys + "; $ran.size"), "1");
    EXPECT_TRUE(fs::exists(game + "/ran"));
}

TEST_F(CodegenTest, EvalHashReportsParseErrorsAndBadArguments)
{
    EXPECT_EQ(eval_hash("[1,, 2]"),
              "RuntimeError: * EXCEPTION: Invalid hash.\nline 1:4: syntax error, unexpected ',', expecting ']'\n");
    for (const char *text : {"[1, 2", "{a: 1", "{a: 1}}", "\"open", "{a: 1, b: }\n{"}) {
        const std::string out = eval_hash(text);
        EXPECT_EQ(out.rfind("RuntimeError: * EXCEPTION: Invalid hash.\nline ", 0), 0u) << text << ": " << out;
        EXPECT_EQ(out.back(), '\n') << text;
    }
    EXPECT_EQ(run("ORB::Codegen.eval_hash(1)").rfind("TypeError: ", 0), 0u);
    EXPECT_EQ(run("ORB::Codegen.eval_hash").rfind("ArgumentError: ", 0), 0u);
    EXPECT_EQ(run("ORB::Codegen.eval_hash('1', '2')").rfind("ArgumentError: ", 0), 0u);
    // A literal beyond 64 bits raises instead of crashing or wrapping.
    EXPECT_EQ(eval_hash("{a: 99999999999999999999}").rfind("RangeError: ", 0), 0u)
        << eval_hash("{a: 99999999999999999999}");
    EXPECT_EQ(eval_hash("{a: 1}"), "{:a=>1}");
}

TEST_F(CodegenTest, DeepNestingRaisesInsteadOfCrashing)
{
    const auto nested = [](int depth) { return std::string(depth, '[') + std::string(depth, ']'); };
    EXPECT_EQ(eval_hash(nested(100)), nested(100));
    // Beyond what the code generator's registers hold, then beyond the
    // parser's stack.
    EXPECT_EQ(eval_hash(nested(5000)),
              "RuntimeError: * EXCEPTION: ~ORB::Codegen.eval_hash~ failed.\nThe literal could not be compiled.");
    EXPECT_EQ(eval_hash(nested(20000)).rfind("RuntimeError: * EXCEPTION: Invalid hash.\nline 1:", 0), 0u);
    EXPECT_EQ(eval_hash("[1]"), "[1]");
}

TEST_F(CodegenTest, ExistingCodegenClassIsKept)
{
    mrb_state *other = mrb_open();
    ASSERT_NE(other, nullptr);
    mrb_load_string(other, "module ORB; class Codegen; def self.own; :kept; end; end; end");
    ASSERT_EQ(other->exc, nullptr);
    ASSERT_TRUE(ffi_init(game.c_str(), game.c_str(), other, nullptr)) << SDL_GetError();
    mrb_value v = mrb_load_string(other, "[ORB::Codegen.own, ORB::Codegen.eval_hash('[1]'), ORB::Codegen.superclass]");
    ASSERT_EQ(other->exc, nullptr);
    mrb_value s = mrb_inspect(other, v);
    EXPECT_EQ(std::string(RSTRING_PTR(s), RSTRING_LEN(s)), "[:kept, [1], Object]");
    mrb_close(other);
    EXPECT_EQ(run("[ORB.class, ORB::Codegen.superclass, FFI::Compiler.superclass]"), "[Module, Object, Object]");
}

// dump

TEST_F(CodegenTest, DumpPrintsTheTreeThenTheBytecodeWithoutRunning)
{
    testing::internal::CaptureStdout();
    const std::string result = run(R"(ORB::Codegen.dump("$ran = [1, :b]\nputs $ran"))");
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(result, "nil");
    EXPECT_EQ(run("$ran"), "nil");

    // The tree: one line per node, line number first, indented by depth.
    const std::vector<std::string> tree = {
        "00001 NODE_SCOPE:\n",      "00001   NODE_BEGIN:\n",    "00001     NODE_ASGN:\n",
        "00001         NODE_GVAR $ran\n", "00001           NODE_INT 1 base 10\n", "00002     NODE_FCALL:\n",
    };
    size_t at = 0;
    for (const auto &line : tree) {
        const size_t found = out.find(line, at);
        EXPECT_NE(found, std::string::npos) << line << "in\n" << out;
        at = found == std::string::npos ? at : found + line.size();
    }
    // Then the bytecode listing.
    const size_t irep = out.find("irep 0x");
    ASSERT_NE(irep, std::string::npos) << out;
    EXPECT_GT(irep, out.find("NODE_FCALL"));
    for (const char *op : {"LOADI_1", "LOADSYM", "ARRAY", "SETGV", "GETGV", "SSEND", ":puts", "RETURN", "STOP"}) {
        EXPECT_NE(out.find(op, irep), std::string::npos) << op << " in\n" << out;
    }
}

TEST_F(CodegenTest, DumpOfBrokenCodePrintsTheErrors)
{
    testing::internal::CaptureStdout();
    const std::string result = run(R"(ORB::Codegen.dump("def f(\n$ran = 1"))");
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(result, "nil");
    EXPECT_EQ(run("$ran"), "nil");
    EXPECT_EQ(out.rfind("line 2:", 0), 0u) << out;
    EXPECT_EQ(out.find("irep"), std::string::npos) << out;
    EXPECT_EQ(run("ORB::Codegen.dump(1)").rfind("TypeError: ", 0), 0u);
    EXPECT_EQ(run("ORB::Codegen.dump").rfind("ArgumentError: ", 0), 0u);
}

TEST_F(CodegenTest, CompilerDumpCodegenWarnsThenDumps)
{
    drain_log();
    testing::internal::CaptureStdout();
    const std::string result = run(R"(FFI::Compiler.new.dump_codegen("[1]"))");
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(result, "nil");
    const std::vector<logged> expected = {
        {LOG_LEVEL_WARN, "Engine",
         "* WARNING: ~FFI::Compiler#dump_codegen~ is deprecated. Use ~ORB::Codegen.dump~ instead."},
    };
    EXPECT_EQ(drain_log(), expected);
    EXPECT_NE(out.find("NODE_ARRAY:"), std::string::npos) << out;
    EXPECT_NE(out.find("irep 0x"), std::string::npos) << out;
}

} // namespace
