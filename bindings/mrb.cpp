// MRB: parsing and evaluating Ruby code from scripts. `parse` checks code
// for syntax errors without running it; `eval` compiles and runs code at
// the top level, raising syntax errors as SyntaxError with the parser's
// messages. Defined at the top level and bound as FFI::MRB. Depends on
// mruby's parser.
#include <mruby.h>
#include <mruby/compile.h>
#include <mruby/error.h>
#include <mruby/string.h>

#include <SDL.h>

#include "bindings/ffi_internal.h"

#define FFI_MRB_PARSE_LINE_MAX 254
#define FFI_MRB_PARSE_TEXT_MAX 2999

// Parser state and context released on every way out, a raise included.
struct ffi_mrb_parse_run {
    mrb_state *mrb;
    mrbc_context *cxt;
    mrb_parser_state *parser;
    ~ffi_mrb_parse_run()
    {
        if (parser) {
            mrb_parser_free(parser);
        }
        if (cxt) {
            mrbc_context_free(mrb, cxt);
        }
    }
};

// Parses code with error capture; the caller owns the result. Raises only
// when memory runs out.
static void ffi_mrb_parse_code(mrb_state *mrb, mrb_value code, ffi_mrb_parse_run *run)
{
    run->cxt = mrbc_context_new(mrb);
    run->cxt->capture_errors = TRUE;
    run->parser = mrb_parse_nstring(mrb, RSTRING_PTR(code), (size_t)RSTRING_LEN(code), run->cxt);
    if (!run->parser) {
        mrb_exc_raise(mrb, mrb_obj_value(mrb->nomem_err));
    }
}

// One "line %d:%d: %s\n" per recorded error, each cut at 254 bytes and the
// whole at 2999. Only the first few errors are recorded by the parser.
static mrb_value ffi_mrb_parse_errors(mrb_state *mrb, const mrb_parser_state *p)
{
    char text[FFI_MRB_PARSE_TEXT_MAX + 1];
    size_t used = 0;
    const size_t recorded = SDL_arraysize(p->error_buffer);
    const size_t count = p->nerr < recorded ? p->nerr : recorded;
    for (size_t i = 0; i < count && used < FFI_MRB_PARSE_TEXT_MAX; i++) {
        char line[FFI_MRB_PARSE_LINE_MAX + 1];
        const mrb_parser_message *e = &p->error_buffer[i];
        SDL_snprintf(line, sizeof(line), "line %d:%d: %s\n", (int)e->lineno, e->column,
                     e->message ? e->message : "");
        size_t n = SDL_strlen(line);
        if (n > FFI_MRB_PARSE_TEXT_MAX - used) {
            n = FFI_MRB_PARSE_TEXT_MAX - used;
        }
        SDL_memcpy(text + used, line, n);
        used += n;
    }
    return mrb_str_new(mrb, text, (mrb_int)used);
}

static mrb_value ffi_mrb_parse(mrb_state *mrb, mrb_value self)
{
    mrb_value code;
    mrb_get_args(mrb, "S", &code);
    ffi_mrb_parse_run run = {mrb, NULL, NULL};
    ffi_mrb_parse_code(mrb, code, &run);
    if (run.parser->nerr == 0) {
        return mrb_str_new_lit(mrb, "Syntax OK");
    }
    return ffi_mrb_parse_errors(mrb, run.parser);
}

static mrb_value ffi_mrb_eval(mrb_state *mrb, mrb_value self)
{
    mrb_value code;
    mrb_get_args(mrb, "S", &code);
    ffi_mrb_parse_run run = {mrb, NULL, NULL};
    ffi_mrb_parse_code(mrb, code, &run);
    if (run.parser->nerr > 0 || !run.parser->tree) {
        mrb_value message = run.parser->nerr > 0 ? ffi_mrb_parse_errors(mrb, run.parser)
                                                 : mrb_str_new_lit(mrb, "syntax error");
        mrb_exc_raise(mrb, mrb_exc_new_str(mrb, E_SYNTAX_ERROR, message));
    }
    // mrb_load_exec generates the code, frees the parser and runs the proc
    // at the top level with main as self.
    mrb_parser_state *parser = run.parser;
    run.parser = NULL;
    mrb_load_exec(mrb, parser, NULL);
    if (mrb->exc) {
        mrb_value exc = mrb_obj_value(mrb->exc);
        mrb->exc = NULL;
        mrb_exc_raise(mrb, exc);
    }
    return mrb_nil_value();
}

void ffi_mrb_register(mrb_state *mrb, struct RClass *ffi)
{
    struct RClass *cls = mrb_define_class(mrb, "MRB", mrb->object_class);
    mrb_define_method(mrb, cls, "eval", ffi_mrb_eval, MRB_ARGS_REQ(1));
    mrb_define_method(mrb, cls, "parse", ffi_mrb_parse, MRB_ARGS_REQ(1));
    mrb_define_const(mrb, ffi, "MRB", mrb_obj_value(cls));
}
