// Node type numbers of the embedded interpreter's parser. Every syntax tree
// node is a cons cell whose first cell holds its type as an integer. The
// interpreter does not install the header that names them, so the numbering
// is carried here; tests/unit/test_codegen.cpp checks it against the
// parser. The list must follow the parser's order exactly: several numbers
// are never produced by the parser but still occupy their place.
#pragma once

#include <stdint.h>

#include <mruby.h>
#include <mruby/compile.h>

#define NODE_TYPE_LIST(X) \
    X(NODE_METHOD, 0) \
    X(NODE_SCOPE, 1) \
    X(NODE_BLOCK, 2) \
    X(NODE_IF, 3) \
    X(NODE_CASE, 4) \
    X(NODE_WHEN, 5) \
    X(NODE_WHILE, 6) \
    X(NODE_UNTIL, 7) \
    X(NODE_ITER, 8) \
    X(NODE_FOR, 9) \
    X(NODE_BREAK, 10) \
    X(NODE_NEXT, 11) \
    X(NODE_REDO, 12) \
    X(NODE_RETRY, 13) \
    X(NODE_BEGIN, 14) \
    X(NODE_RESCUE, 15) \
    X(NODE_ENSURE, 16) \
    X(NODE_AND, 17) \
    X(NODE_OR, 18) \
    X(NODE_NOT, 19) \
    X(NODE_MASGN, 20) \
    X(NODE_ASGN, 21) \
    X(NODE_CDECL, 22) \
    X(NODE_CVASGN, 23) \
    X(NODE_CVDECL, 24) \
    X(NODE_OP_ASGN, 25) \
    X(NODE_CALL, 26) \
    X(NODE_SCALL, 27) \
    X(NODE_FCALL, 28) \
    X(NODE_SUPER, 29) \
    X(NODE_ZSUPER, 30) \
    X(NODE_ARRAY, 31) \
    X(NODE_ZARRAY, 32) \
    X(NODE_HASH, 33) \
    X(NODE_KW_HASH, 34) \
    X(NODE_RETURN, 35) \
    X(NODE_YIELD, 36) \
    X(NODE_LVAR, 37) \
    X(NODE_DVAR, 38) \
    X(NODE_GVAR, 39) \
    X(NODE_IVAR, 40) \
    X(NODE_CONST, 41) \
    X(NODE_CVAR, 42) \
    X(NODE_NVAR, 43) \
    X(NODE_NTH_REF, 44) \
    X(NODE_BACK_REF, 45) \
    X(NODE_MATCH, 46) \
    X(NODE_INT, 47) \
    X(NODE_FLOAT, 48) \
    X(NODE_NEGATE, 49) \
    X(NODE_LAMBDA, 50) \
    X(NODE_SYM, 51) \
    X(NODE_STR, 52) \
    X(NODE_DSTR, 53) \
    X(NODE_XSTR, 54) \
    X(NODE_DXSTR, 55) \
    X(NODE_REGX, 56) \
    X(NODE_DREGX, 57) \
    X(NODE_DREGX_ONCE, 58) \
    X(NODE_ARG, 59) \
    X(NODE_ARGS_TAIL, 60) \
    X(NODE_KW_ARG, 61) \
    X(NODE_KW_REST_ARGS, 62) \
    X(NODE_SPLAT, 63) \
    X(NODE_TO_ARY, 64) \
    X(NODE_SVALUE, 65) \
    X(NODE_BLOCK_ARG, 66) \
    X(NODE_DEF, 67) \
    X(NODE_SDEF, 68) \
    X(NODE_ALIAS, 69) \
    X(NODE_UNDEF, 70) \
    X(NODE_CLASS, 71) \
    X(NODE_MODULE, 72) \
    X(NODE_SCLASS, 73) \
    X(NODE_COLON2, 74) \
    X(NODE_COLON3, 75) \
    X(NODE_DOT2, 76) \
    X(NODE_DOT3, 77) \
    X(NODE_SELF, 78) \
    X(NODE_NIL, 79) \
    X(NODE_TRUE, 80) \
    X(NODE_FALSE, 81) \
    X(NODE_DEFINED, 82) \
    X(NODE_POSTEXE, 83) \
    X(NODE_DSYM, 84) \
    X(NODE_HEREDOC, 85) \
    X(NODE_LITERAL_DELIM, 86) \
    X(NODE_WORDS, 87) \
    X(NODE_SYMBOLS, 88)

enum node_type {
#define NODE_TYPE_ENUM(name, number) name = number,
    NODE_TYPE_LIST(NODE_TYPE_ENUM)
#undef NODE_TYPE_ENUM
    NODE_LAST
};

// The type held by a node's first cell.
static inline int node_type_of(const mrb_ast_node *node)
{
    return (int)(intptr_t)node->car;
}

// The parser's name for a node type ("NODE_CALL"), or null for a number
// outside the list.
const char *node_type_name(int type);
