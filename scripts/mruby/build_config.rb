# mruby build configuration for Moonforge: one host build that yields the
# static library, mrbc, mruby and mruby-config, with mruby's own tests enabled.
# Used by scripts/build_mruby.sh through MRUBY_CONFIG; the build directory
# comes from MRUBY_BUILD_DIR (set by the script, always outside the clone).

MOONFORGE_ROOT = File.expand_path('../..', __dir__)

# Each of these either carries a Time/Random that the engine replaces with its
# own, or (rational, complex) redefines Integer#/ as integer division.
MOONFORGE_EXCLUDED_GEMS = %w(mruby-time mruby-random mruby-socket mruby-rational mruby-complex)

# With tests enabled, a test dependency becomes a real dependency linked into
# libmruby (mruby-io asks for mruby-time). An excluded name is dropped unless
# this build lists a gem of that name itself (the engine's own); mruby's own
# copy of an excluded gem must never be set up, whoever pulls it in.
module MoonforgeGemFilter
  def add_test_dependency(name, *requirements)
    if MOONFORGE_EXCLUDED_GEMS.include?(name) && !build.gems[name]
      $stderr.puts "build_config: not adding #{name} (test dependency of #{self.name})"
      return
    end
    super
  end

  def add_dependency(name, *requirements)
    if MOONFORGE_EXCLUDED_GEMS.include?(name) && !build.gems[name]
      fail "#{self.name} depends on #{name}, which this build leaves out"
    end
    super
  end

  def setup
    if core? && MOONFORGE_EXCLUDED_GEMS.include?(name)
      fail "mruby's #{name} must not be part of this build"
    end
    super
  end
end
MRuby::Gem::Specification.prepend(MoonforgeGemFilter)

# rake would write build_config.rb.lock beside this file, inside the clone.
MRuby::Lockfile.disable

MRuby::Build.new do |conf|
  # enable_cxx_exception switches the linker to g++ only when the gcc toolchain
  # is already set, so the toolchain must come first.
  conf.toolchain :gcc
  conf.enable_cxx_exception

  conf.compilers.each do |c|
    c.flags = c.flags.flatten.map { |f| f == '-O3' ? '-O2' : f }
    c.flags << '-g' unless c.flags.include?('-g')
  end

  %w(
    mruby-array-ext mruby-class-ext mruby-compar-ext mruby-enum-ext
    mruby-enum-chain mruby-enum-lazy mruby-hash-ext mruby-kernel-ext
    mruby-numeric-ext mruby-object-ext mruby-proc-ext mruby-range-ext
    mruby-string-ext mruby-symbol-ext mruby-toplevel-ext
    mruby-enumerator mruby-error mruby-eval mruby-exit mruby-fiber mruby-io
    mruby-math mruby-metaprog mruby-method mruby-objectspace mruby-pack
    mruby-print mruby-sleep mruby-sprintf mruby-struct
    mruby-compiler mruby-bin-mrbc mruby-bin-mruby mruby-bin-config
  ).each { |name| conf.gem core: name }

  # The engine's own gems (Time, Random, ...): every directory under runtime/gems.
  Dir.glob("#{MOONFORGE_ROOT}/runtime/gems/*/").sort.each do |dir|
    conf.gem File.expand_path(dir)
  end

  conf.enable_test
  conf.enable_bintest
end
