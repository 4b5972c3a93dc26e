#!/usr/bin/env bash
# Builds Moonforge's mruby: Debian's mruby source with our patch and build
# config, in a cache outside the clone, keyed by everything that shapes the
# result. A fresh build runs mruby's own tests and our checks before it is
# marked complete. Prints one line on stdout, the prefix (include/, lib/,
# bin/); all progress goes to stderr. A finished build is reused at once.
# Needs apt-get source (a deb-src entry), dpkg-dev, ruby, rake, gcc, g++,
# patch, flock and sha256sum; scripts/deps.sh installs them.
set -euo pipefail

# stdout carries the prefix and nothing else, whatever the tools below print.
exec 3>&1 1>&2

log() { printf 'build_mruby: %s\n' "$*" >&2; }
die() { printf 'build_mruby: error: %s\n' "$*" >&2; exit 1; }

SCRIPT=$(readlink -f "${BASH_SOURCE[0]}")
REPO=$(cd "$(dirname "$SCRIPT")/.." && pwd)
CONF_DIR=$REPO/scripts/mruby
CONFIG=$CONF_DIR/build_config.rb
ALLOWLIST=$CONF_DIR/expected_test_failures.txt
[ -n "${MOONFORGE_CACHE:-}${XDG_CACHE_HOME:-}${HOME:-}" ] || die "no cache directory: set MOONFORGE_CACHE or HOME"
CACHE=${MOONFORGE_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/moonforge}
# The prefix is printed for callers in other directories, and we cd around.
case $CACHE in /*) ;; *) CACHE=$(pwd)/$CACHE ;; esac
# mruby's rake files and the generated mruby-config do not quote paths.
case $CACHE in *[[:space:]]*) die "cache path must not contain white space: $CACHE" ;; esac

# Debian version of the cached source ("3.1.0-3"), empty when no complete
# source is cached. A fetch only ever appears whole: it is renamed into place.
source_version() {
  local dsc tree
  for dsc in "$CACHE"/src/mruby_*.dsc; do
    for tree in "$CACHE"/src/mruby-*/Rakefile; do
      [ -f "$dsc" ] && [ -f "$tree" ] || continue
      dsc=${dsc##*/mruby_}
      printf '%s\n' "${dsc%.dsc}"
      return 0
    done
  done
}

# sha256 over the source version, our four files and every file (and
# directory name) under runtime/gems, with paths, so renames count too.
compute_key() {
  {
    printf 'mruby source %s\n' "$1"
    cd "$REPO"
    sha256sum "${SCRIPT#"$REPO"/}" scripts/mruby/build_config.rb \
      scripts/mruby/*.patch scripts/mruby/expected_test_failures.txt
    if [ -d runtime/gems ]; then
      find runtime/gems -mindepth 1 -type d -printf 'dir %p\n' | LC_ALL=C sort
      find runtime/gems \( -type f -o -type l \) -print0 | LC_ALL=C sort -z | xargs -0 -r sha256sum
    fi
  } | sha256sum | cut -c1-64
}

# Fast path, taken on every make: a complete prefix for the current key.
version=$(source_version)
if [ -n "$version" ]; then
  key=$(compute_key "$version")
  prefix=$CACHE/mruby-${key:0:16}
  if [ -f "$prefix/.complete" ]; then
    printf '%s\n' "$prefix" >&3
    exit 0
  fi
fi

for tool in flock ruby rake gcc g++ patch timeout; do
  command -v "$tool" >/dev/null || die "$tool not found (scripts/deps.sh installs the build tools)"
done

mkdir -p "$CACHE"
exec 9>"$CACHE/lock"
if ! flock -n 9; then
  log "waiting for another mruby build in $CACHE"
  flock 9
fi

fetch_source() {
  command -v apt-get >/dev/null || die "apt-get not found: the mruby source comes from Debian's mruby source package"
  command -v dpkg-source >/dev/null || die "dpkg-source not found: install dpkg-dev (scripts/deps.sh)"
  local tmp=$CACHE/src.new
  rm -rf "$tmp"
  mkdir -p "$tmp"
  log "fetching Debian's mruby source into $CACHE/src"
  if ! (cd "$tmp" && apt-get source -q mruby); then
    die "apt-get source mruby failed: the machine needs a deb-src entry for bookworm main and a fresh 'apt-get update' (scripts/deps.sh sets up both)"
  fi
  local trees=("$tmp"/mruby-*/Rakefile) dscs=("$tmp"/mruby_*.dsc)
  [ ${#trees[@]} -eq 1 ] && [ -f "${trees[0]}" ] || die "apt-get source left no single mruby source tree in $tmp"
  [ ${#dscs[@]} -eq 1 ] && [ -f "${dscs[0]}" ] || die "apt-get source left no single .dsc file in $tmp"
  rm -rf "$CACHE/src"
  mv "$tmp" "$CACHE/src"
}

[ -n "$(source_version)" ] || fetch_source
version=$(source_version)
src_trees=("$CACHE"/src/mruby-*/Rakefile)
SRC=$(dirname "${src_trees[0]}")

key=$(compute_key "$version")
prefix=$CACHE/mruby-${key:0:16}
# Another invocation may have finished this build while we waited for the lock.
if [ -f "$prefix/.complete" ]; then
  printf '%s\n' "$prefix" >&3
  exit 0
fi

start=$SECONDS
work=$CACHE/work-${key:0:16}
build=$work/build
rm -rf "$work" "$prefix"
mkdir -p "$work"

# The cached source stays pristine: every key patches its own copy.
log "preparing mruby $version for ${key:0:16} in $work"
cp -a "$SRC" "$work/mruby"
for patch_file in "$CONF_DIR"/*.patch; do
  patch -d "$work/mruby" -p1 --forward --batch --quiet <"$patch_file" \
    || die "$patch_file does not apply to mruby $version"
done

# The build config decides compilers and flags; variables from the caller's
# environment (a make or CI run) would change the result without changing the key.
run_rake() {
  (cd "$work/mruby" && env -u CC -u CXX -u LD -u AR -u CFLAGS -u CXXFLAGS -u CPPFLAGS -u LDFLAGS \
    -u DEB_TARGET_ARCH -u INSTALL_DIR -u CONFIG -u EMULATOR \
    MRUBY_CONFIG="$CONFIG" MRUBY_BUILD_DIR="$build" rake "$@")
}

jobs=$(nproc 2>/dev/null || echo 2)
log "building (rake -j$jobs, log: $work/build.log)"
if ! run_rake -j"$jobs" all test:build >"$work/build.log" 2>&1; then
  tail -n 40 "$work/build.log" >&2
  die "mruby build failed (full log: $work/build.log)"
fi
log "built in $((SECONDS - start)) s"

# mruby's own tests. Failures are judged by the allowlist, not by the exit
# status; a run that stops before its report (a crash, a hang) fails.
log "running mruby's tests (logs: $work/mrbtest.log, $work/bintest.log)"
(cd "$work" && timeout 900 "$build/host/bin/mrbtest") >"$work/mrbtest.log" 2>&1 || true
run_rake test:run:bin >"$work/bintest.log" 2>&1 || true
ruby - "$ALLOWLIST" "$work/mruby" "$work/mrbtest.log" "$work/bintest.log" <<'RUBY' || die "mruby's tests failed (logs in $work)"
allow_path, src, *logs = ARGV
ok = true

# SCOPE FILE TEST NAME; the file must hold the test, so a stale line shows.
allowed = {}
File.readlines(allow_path).each_with_index do |line, i|
  line = line.strip
  next if line.empty? || line.start_with?('#')
  scope, file, name = line.split(/\s+/, 3)
  where = "#{File.basename(allow_path)}:#{i + 1}"
  abort "#{where}: expected SCOPE FILE TEST NAME" unless name
  prefix = scope == 'core' ? 'test/t/' : "mrbgems/#{scope}/"
  abort "#{where}: #{file} is not a test file of #{scope}" unless file.start_with?(prefix)
  path = File.join(src, file)
  text = File.exist?(path) ? File.read(path) : ''
  unless text.include?("assert('#{name}'") || text.include?("assert(\"#{name}\"")
    abort "#{where}: #{file} has no test named #{name.inspect}"
  end
  allowed[[scope, name]] = file
end

# Report lines of a failed test, at column 0 (Skip: and Warn: lines look alike):
#   Fail: NAME [ISO] (core)   or   SomeError: NAME [ISO] => message (mrbgems: GEM)
result_re = /\A(Fail|[A-Z]\w*(?:::\w+)*): (.*) \((core|mrbgems: ([\w.-]+))\)\z/
logs.each do |log|
  lines = File.read(log).lines.map(&:chomp)
  total = lines.grep(/\A  Total: \d+\z/).last
  counts = %w(OK KO Crash).to_h { |k| [k, lines.grep(/\A *#{k}: (\d+)\z/).last.to_s[/\d+/].to_i] }
  unless total
    warn "#{log}: the test run stopped before its report:"
    warn lines.last(20).map { |l| "  #{l}" }
    ok = false
    next
  end
  failed = lines.filter_map do |l|
    m = result_re.match(l) or next
    next if %w(Skip Warn).include?(m[1])
    name = m[2].sub(/ => .*\z/m, '').sub(/ \[[^\]]*\]\z/, '')
    [m[4] || 'core', name, l]
  end
  if failed.size != counts['KO'] + counts['Crash']
    warn "#{log}: #{counts['KO'] + counts['Crash']} tests failed but #{failed.size} could be named; see the log"
    ok = false
  end
  failed.each do |scope, name, l|
    if allowed[[scope, name]]
      warn "  allowed failure: #{scope} #{name} (#{allowed[[scope, name]]})"
    else
      warn "  UNEXPECTED FAILURE: #{l}"
      ok = false
    end
  end
  warn "  #{File.basename(log)}: #{counts['OK']} ok, #{failed.size} failed (#{total.strip})"
end
exit ok
RUBY

# The prefix: headers (mruby's, the generated presym headers and the gems'
# exported ones merged), the library, the tools and a relocatable mruby-config.
flags_mak=$build/host/lib/libmruby.flags.mak
[ -f "$flags_mak" ] || die "the build made no $flags_mak"
mak_value() { sed -n "s/^$1 = //p" "$flags_mak"; }
cflags=$(mak_value MRUBY_CFLAGS)
mkdir -p "$prefix/include" "$prefix/lib" "$prefix/bin"
while IFS= read -r inc; do
  cp -a "$inc/." "$prefix/include/"
done < <(grep -oE -- '-I"[^"]+"' <<<"$cflags" | sed -E 's/^-I"(.*)"$/\1/')
cp "$build/host/lib/libmruby.a" "$prefix/lib/"
cp "$build/host/bin/mrbc" "$build/host/bin/mruby" "$prefix/bin/"

# Consumers need the defines (MRB_USE_CXX_EXCEPTION selects how mruby.h's
# MRB_TRY and struct mrb_jmpbuf work) and
# -fexceptions for C code that mruby unwinds through; mruby's own -std, -O and
# -W flags would only fight the consumer's.
defines=$(grep -oE -- '(^| )(-D[^ ]+|-fexceptions)' <<<"$cflags" | tr -d ' ' | tr '\n' ' ' | sed 's/ $//') \
  || die "no defines in $flags_mak"
ldflags=$(mak_value MRUBY_LDFLAGS | sed -E 's/(^| )-L[^ ]+//g; s/^ +//')
cat >"$prefix/bin/mruby-config" <<EOF
#!/bin/sh
# Flags for programs that embed this mruby; paths follow this file's location.
prefix=\$(cd "\$(dirname "\$0")/.." && pwd)
[ \$# -gt 0 ] || set -- --help
while [ \$# -gt 0 ]; do
  case \$1 in
    --cc) echo "$(mak_value MRUBY_CC)" ;;
    --cflags) echo "-I\$prefix/include $defines" ;;
    --ld) echo "$(mak_value MRUBY_LD)" ;;
    --ldflags) echo "${ldflags:+$ldflags }-L\$prefix/lib" ;;
    --ldflags-before-libs) echo "$(mak_value MRUBY_LDFLAGS_BEFORE_LIBS)" ;;
    --libs) echo "$(mak_value MRUBY_LIBS)" ;;
    --libmruby-path) echo "\$prefix/lib/libmruby.a" ;;
    *) echo "Usage: mruby-config [--cc|--cflags|--ld|--ldflags|--ldflags-before-libs|--libs|--libmruby-path]"
       [ "\$1" = --help ] && exit 0 || exit 1 ;;
  esac
  shift
done
EOF
chmod 755 "$prefix/bin/mruby-config"

# What the engine relies on, checked against the installed prefix.
log "checking the prefix"
mkdir -p "$work/check"
cat >"$work/check/semantics.rb" <<'RUBY'
bad = []
check = lambda do |what, got, want|
  same = got.class == want.class &&
    (got == want || (want.is_a?(Float) && want.nan? && got.nan?))
  bad << "#{what}: got #{got.inspect}, want #{want.inspect}" unless same
end
raises = lambda do |what, cls, &blk|
  begin
    got = blk.call
    bad << "#{what}: got #{got.inspect}, want #{cls}"
  rescue => e
    bad << "#{what}: raised #{e.class}, want #{cls}" unless e.is_a?(cls)
  end
end
seven = 7
two = 2
zero = 0
nan = 0.0 / 0.0
check.('7/2', 7/2, 3.5)
check.('-7/2', -7/2, -3.5)
check.('6/3', 6/3, 2.0)
check.('0/0', 0/0, nan)
check.('1/0', 1/0, 1.0 / 0.0)
check.('-1/0', -1/0, -1.0 / 0.0)
check.('seven/two', seven/two, 3.5)
check.('zero/zero', zero/zero, nan)
check.('seven/zero', seven/zero, 1.0 / 0.0)
check.('7.send(:/, 2)', 7.send(:/, 2), 3.5)
x = 7; x /= 2
check.('x /= 2', x, 3.5)
check.('7.div(2)', 7.div(2), 3)
check.('-7.div(2)', -7.div(2), -4)
check.('7 % 2', 7 % 2, 1)
check.('-7 % 2', -7 % 2, 1)
check.('7.divmod(2)', 7.divmod(2), [3, 1])
check.('"ab".center(7)', "ab".center(7), "  ab   ")
check.('"ab".ljust(5, "xy")', "ab".ljust(5, "xy"), "abxyx")
check.('"ab".rjust(5, "xy")', "ab".rjust(5, "xy"), "xyxab")
check.('[1, 2].product([3, 4])', [1, 2].product([3, 4]), [[1, 3], [1, 4], [2, 3], [2, 4]])
# send and __send__ hand their arguments to method_missing unchanged.
ghost = Class.new { def method_missing(name, *args); [name, args]; end }.new
check.('send(:zz=, 5) via method_missing', ghost.send(:zz=, 5), [:zz=, [5]])
check.('__send__(:f, 1, 2) via method_missing', ghost.__send__(:f, 1, 2), [:f, [1, 2]])
check.('send(:g) via method_missing', ghost.send(:g), [:g, []])
raises.('7.div(0)', ZeroDivisionError) { 7.div(0) }
raises.('1/nil', TypeError) { 1/nil }
if bad.empty?
  puts "ok"
else
  puts bad
  exit 1
end
RUBY
sem=$("$prefix/bin/mruby" "$work/check/semantics.rb" 2>&1) || true
[ "$sem" = ok ] || die "the built mruby gives wrong results:
$sem"

# mrbc folds constants at compile time; its bytecode must divide the same way.
printf 'print 7/2\n' >"$work/check/div.rb"
"$prefix/bin/mrbc" -g -o "$work/check/div.mrb" "$work/check/div.rb" || die "bin/mrbc failed"
out=$("$prefix/bin/mruby" -b "$work/check/div.mrb" 2>&1) || true
[ "$out" = 3.5 ] || die "bytecode from bin/mrbc prints '$out' for 7/2, want 3.5"

# The library links into C++, and Ruby exceptions reach the embedder as values
# instead of aborting: through mrb_protect_error, through mrb->exc after a
# load or a call outside any Ruby frame, and across C++ frames with destructors.
cat >"$work/check/cxx.cpp" <<'CPP'
#include <mruby.h>
#include <mruby/compile.h>
#include <mruby/error.h>
#include <mruby/string.h>
#include <cstdio>
#include <cstring>

static int destructed = 0;
struct Guard { ~Guard() { destructed++; } };

static mrb_value raise_from_cxx(mrb_state *mrb, mrb_value self)
{
  Guard guard;
  mrb_raise(mrb, E_RUNTIME_ERROR, "raised in C++");
  return mrb_nil_value();
}

static mrb_value load_raising(mrb_state *mrb, void *ud)
{
  return mrb_load_string(mrb, "raise ArgumentError, 'in load'");
}

static mrb_value raise_directly(mrb_state *mrb, void *ud)
{
  mrb_raise(mrb, E_ARGUMENT_ERROR, "in protect");
  return mrb_nil_value();
}

static int fail(const char *what)
{
  std::fprintf(stderr, "cxx check: %s\n", what);
  return 1;
}

static int is_error(mrb_state *mrb, mrb_value exc, struct RClass *cls, const char *msg)
{
  if (!mrb_obj_is_kind_of(mrb, exc, cls)) return 0;
  mrb_value m = mrb_funcall(mrb, exc, "message", 0);
  return !mrb->exc && mrb_string_p(m) && std::strcmp(mrb_str_to_cstr(mrb, m), msg) == 0;
}

/* Takes the pending exception (calls misbehave while one is pending). */
static int take_exc(mrb_state *mrb, struct RClass *cls, const char *msg)
{
  if (!mrb->exc) return 0;
  mrb_value exc = mrb_obj_value(mrb->exc);
  mrb->exc = NULL;
  mrb_gc_protect(mrb, exc);
  return is_error(mrb, exc, cls, msg);
}

int main()
{
  mrb_state *mrb = mrb_open();
  if (!mrb) return fail("mrb_open failed");

  mrb_load_string(mrb, "raise 'top level'");
  if (!take_exc(mrb, E_RUNTIME_ERROR, "top level")) return fail("raise in mrb_load_string left no RuntimeError in mrb->exc");

  mrb_bool error = FALSE;
  mrb_value r = mrb_protect_error(mrb, raise_directly, NULL, &error);
  if (!error || !is_error(mrb, r, E_ARGUMENT_ERROR, "in protect")) return fail("mrb_protect_error did not catch mrb_raise");

  /* A load inside mrb_protect_error: either protect catches it or the load leaves it in mrb->exc. */
  r = mrb_protect_error(mrb, load_raising, NULL, &error);
  if (error ? !is_error(mrb, r, E_ARGUMENT_ERROR, "in load") : !take_exc(mrb, E_ARGUMENT_ERROR, "in load"))
    return fail("a raise inside mrb_load_string under mrb_protect_error was lost");

  mrb_define_method(mrb, mrb->kernel_module, "raise_from_cxx", raise_from_cxx, MRB_ARGS_NONE());
  mrb_value m = mrb_load_string(mrb, "begin; raise_from_cxx; rescue => e; e.message; end");
  if (mrb->exc || !mrb_string_p(m) || std::strcmp(mrb_str_to_cstr(mrb, m), "raised in C++") != 0)
    return fail("Ruby rescue did not catch a raise from a C++ method");
  if (destructed != 1) return fail("the C++ frame's destructor did not run");

  mrb_funcall(mrb, mrb_top_self(mrb), "raise_from_cxx", 0);
  if (!take_exc(mrb, E_RUNTIME_ERROR, "raised in C++") || destructed != 2)
    return fail("mrb_funcall outside Ruby left no exception in mrb->exc");

  mrb_value q = mrb_load_string(mrb, "a = 7; a / 2");
  if (!mrb_float_p(q) || mrb_float(q) != 3.5) return fail("7/2 through the library is not 3.5");

  mrb_close(mrb);
  std::puts("ok");
  return 0;
}
CPP
read -ra cfl <<<"$("$prefix/bin/mruby-config" --cflags)"
read -ra ldf <<<"$("$prefix/bin/mruby-config" --ldflags)"
read -ra lib <<<"$("$prefix/bin/mruby-config" --libs)"
g++ -std=c++20 -O1 -DMRB_USE_CXX_EXCEPTION "${cfl[@]}" -o "$work/check/cxx" "$work/check/cxx.cpp" "${ldf[@]}" "${lib[@]}" \
  || die "a C++ program does not compile or link against the prefix"
out=$("$work/check/cxx" 2>&1) || true
[ "$out" = ok ] || die "C++ exception check failed: $out"

elapsed=$((SECONDS - start))
{
  printf 'key %s\nmruby %s\nbuilt %s in %d s\n' "$key" "$version" "$(date -u +%Y-%m-%dT%H:%M:%SZ)" "$elapsed"
} >"$prefix/.complete.tmp"
mv "$prefix/.complete.tmp" "$prefix/.complete"
rm -rf "$work"
log "mruby ready in $elapsed s: $prefix"
printf '%s\n' "$prefix" >&3
