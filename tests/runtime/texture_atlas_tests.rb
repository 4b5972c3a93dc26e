# Tests of HD texture atlas discovery, run inside a game with
# `moonforge <game> --test tests/runtime/texture_atlas_tests.rb`. The walk
# logic runs over an in-memory file tree; one test writes real files into
# the game directory and goes through the runtime and FFI::File.

# A file tree in memory that answers list and stat like FFI::File: stat's
# :path is the path it was asked for. Names listed in `broken` are listed
# but cannot be stat-ed.
class AtlasTestFiles
  attr_reader :listed

  def initialize(files, broken = [])
    @files = files
    @broken = broken
    @listed = []
  end

  def list(dir)
    @listed << dir
    prefix = "#{dir}/"
    names = []
    (@files + @broken).each do |f|
      next unless f.start_with?(prefix)

      name = f[prefix.length..-1].split("/")[0]
      names << name unless names.include?(name)
    end
    names
  end

  def stat(path)
    return nil if @broken.include?(path)
    return { path: path, file_type: :regular } if @files.include?(path)
    return { path: path, file_type: :directory } if @files.any? { |f| f.start_with?("#{path}/") }

    nil
  end
end

class AtlasTestLog
  attr_reader :texts

  def initialize
    @texts = []
  end

  def log(_subsystem, _level, text)
    @texts << text
    nil
  end
end

def atlas_for(files, dir = "sprites", broken: [], cli: {})
  ORB::TextureAtlas.get_texture_atlas(dir, ffi_file: AtlasTestFiles.new(files, broken), cli_arguments: cli)
end

# The chosen files as {percent => [path, scale]}, read the way the engine
# reads them (String keys).
def atlas_levels(info)
  levels = {}
  [100, 125, 150, 175, 200, 250, 300, 400].each do |s|
    levels[s] = [info["texture_#{s}"], info["texture_#{s}_scale_enum"]]
  end
  levels
end

def atlas_expect(assert, atlas, key, by_file)
  assert.true! atlas.key?(key), "#{key} missing from #{atlas.keys.inspect}"
  expected = {}
  by_file.each do |file, percents|
    scale = file.include?("@") ? file.split("@")[1].to_i : 100
    percents.each { |p| expected[p] = [file, scale] }
  end
  assert.equal! atlas_levels(atlas[key]), expected, key
end

def test_info_hash_has_the_sixteen_string_keys args, assert
  atlas = atlas_for(%w[sprites/hero.png sprites/hero@200.png])
  assert.equal! atlas.keys, ["sprites/hero.png"]
  keys = [100, 125, 150, 175, 200, 250, 300, 400].flat_map { |s| ["texture_#{s}", "texture_#{s}_scale_enum"] }
  assert.equal! atlas["sprites/hero.png"].keys.sort, keys.sort
end

def test_families_and_fallback_levels args, assert
  hero = "sprites/hero.png"
  hero200 = "sprites/hero@200.png"
  hero125 = "sprites/hero@125.png"
  atlas_expect assert, atlas_for([hero, hero200]), hero,
               hero => [100, 125, 150, 175], hero200 => [200, 250, 300, 400]
  atlas_expect assert, atlas_for([hero125, hero]), hero,
               hero => [100], hero125 => [125, 150, 175, 200, 250, 300, 400]
  all = [100, 125, 150, 175, 200, 250, 300, 400].map { |s| s == 100 ? hero : "sprites/hero@#{s}.png" }
  atlas_expect assert, atlas_for(all.reverse), hero,
               Hash[all.map { |f| [f, [f.include?("@") ? f.split("@")[1].to_i : 100]] }]
  # A missing level uses the sharpest copy below it, never a blurrier one
  # than the level beneath it draws.
  atlas_expect assert, atlas_for([hero, "sprites/hero@150.png", "sprites/hero@300.png"]), hero,
               hero => [100, 125], "sprites/hero@150.png" => [150, 175, 200, 250],
               "sprites/hero@300.png" => [300, 400]
end

def test_subdirectories_are_walked args, assert
  tree = "sprites/sub/deeper/tree.png"
  atlas = atlas_for([tree, "sprites/sub/deeper/tree@400.png", "sprites/sub/tree@400.png"])
  assert.equal! atlas.keys, [tree]
  atlas_expect assert, atlas, tree, tree => [100, 125, 150, 175, 200, 250, 300], "sprites/sub/deeper/tree@400.png" => [400]
end

def test_images_without_a_family_get_no_entry args, assert
  cases = [
    [%w[sprites/lonely.png], "a plain image alone"],
    [%w[sprites/only@200.png sprites/only@400.png], "variants without their plain image"],
    [%w[sprites/a.png sprites/b@200.png], "a variant of another name"],
    [%w[sprites/x/hero.png sprites/y/hero@200.png], "a variant in another directory"],
    [%w[sprites/hero.png sprites/hero@1@200.png], "a name with two @ never joins"]
  ]
  cases.each do |files, why|
    assert.equal! atlas_for(files), {}, why
  end
end

def test_search_directory_normalisation args, assert
  files = %w[sprites/hero.png sprites/hero@200.png]
  [nil, "", "  ", ".", "./", "../art", "art/../sprites", "/", " sprites ", "/sprites/", "sprites/"].each do |dir|
    assert.equal! atlas_for(files, dir).keys, ["sprites/hero.png"], dir.inspect
  end
  art = %w[gfx/art/hero.png gfx/art/hero@200.png]
  atlas = atlas_for(art, "/gfx/art/")
  atlas_expect assert, atlas, "gfx/art/hero.png", "gfx/art/hero.png" => [100, 125, 150, 175],
               "gfx/art/hero@200.png" => [200, 250, 300, 400]
end

def test_non_numeric_suffixes_count_as_plain_images args, assert
  # hero@2x and hero@0200 are scale-100 members of hero's family; each
  # answers itself at 100% and shares hero@200 for the higher levels.
  files = %w[sprites/hero.png sprites/hero@0200.png sprites/hero@200.png sprites/hero@2x.png]
  atlas = atlas_for(files)
  assert.equal! atlas.keys.sort, %w[sprites/hero.png sprites/hero@0200.png sprites/hero@2x.png]
  atlas.each do |key, info|
    assert.equal! atlas_levels(info)[100], [key, 100], key
    assert.equal! atlas_levels(info)[125], [key, 100], key
    assert.equal! atlas_levels(info)[200], ["sprites/hero@200.png", 200], key
  end
  # Two plain files of one family and nothing else: each maps to itself.
  atlas = atlas_for(%w[sprites/hero@2x.png sprites/hero.png])
  assert.equal! atlas_levels(atlas["sprites/hero.png"])[400], ["sprites/hero.png", 100]
  assert.equal! atlas_levels(atlas["sprites/hero@2x.png"])[400], ["sprites/hero@2x.png", 100]
end

def test_families_are_kept_apart_by_extension args, assert
  files = %w[sprites/hero.jpg sprites/hero.png sprites/hero@200.png sprites/logo.jpg sprites/logo@200.jpg]
  atlas = atlas_for(files)
  assert.equal! atlas.keys.sort, %w[sprites/hero.png sprites/logo.jpg]
  atlas_expect assert, atlas, "sprites/hero.png", "sprites/hero.png" => [100, 125, 150, 175],
               "sprites/hero@200.png" => [200, 250, 300, 400]
  assert.equal! atlas_levels(atlas["sprites/logo.jpg"])[200], ["sprites/logo@200.jpg", 200]
end

def test_hidden_directories_are_judged_by_their_own_name args, assert
  files = %w[sprites/.git/hero.png sprites/.git/hero@200.png sprites/.cache/x/a.png sprites/.cache/x/a@200.png
             sprites/ok.png sprites/ok@200.png]
  fake = AtlasTestFiles.new(files)
  atlas = ORB::TextureAtlas.get_texture_atlas("sprites", ffi_file: fake, cli_arguments: {})
  assert.equal! atlas.keys, ["sprites/ok.png"]
  assert.equal! fake.listed, ["sprites"]
  # A search directory below a dotted folder is still walked, and so are
  # folders with a dot elsewhere in their name.
  dotted = %w[.assets/hd/hero.png .assets/hd/hero@200.png .assets/hd/v1.2/tile.png .assets/hd/v1.2/tile@200.png]
  assert.equal! atlas_for(dotted, ".assets/hd").keys.sort, %w[.assets/hd/hero.png .assets/hd/v1.2/tile.png]
end

def test_only_the_search_directory_prefix_is_removed args, assert
  files = %w[sprites/sprites_old/x.png sprites/sprites_old/x@200.png sprites/a/sprites/y.png sprites/a/sprites/y@400.png]
  atlas = atlas_for(files)
  atlas_expect assert, atlas, "sprites/sprites_old/x.png", "sprites/sprites_old/x.png" => [100, 125, 150, 175],
               "sprites/sprites_old/x@200.png" => [200, 250, 300, 400]
  assert.equal! atlas_levels(atlas["sprites/a/sprites/y.png"])[400], ["sprites/a/sprites/y@400.png", 400]
  entry = ORB::TextureAtlas.__get_texture_atlas_entry__("sprites", { path: "sprites/sprites_old/x@200.png" })
  assert.equal! entry[:path], "sprites_old/x@200.png"
end

def test_names_that_cannot_be_stat_ed_are_skipped args, assert
  files = %w[sprites/hero.png sprites/hero@200.png]
  atlas = atlas_for(files, broken: %w[sprites/ghost@400.png sprites/hero@400.png])
  atlas_expect assert, atlas, "sprites/hero.png", "sprites/hero.png" => [100, 125, 150, 175],
               "sprites/hero@200.png" => [200, 250, 300, 400]
  candidates = ORB::TextureAtlas.__get_texture_atlas_recur__("sprites", [],
                                                             ffi_file: AtlasTestFiles.new(files, %w[sprites/bad]))
  assert.equal! candidates.map { |s| s[:path] }, files
end

def test_file_entries args, assert
  cases = [
    ["sprites/hero.png", "hero.png", "sprites", "hero", "hero", 100, "png"],
    ["sprites/sub/hero@250.png", "sub/hero@250.png", "sprites/sub", "hero@250", "hero", 250, "png"],
    ["sprites/README", "README", "sprites", "README", "README", 100, ""],
    ["sprites/.png", ".png", "sprites", ".png", ".png", 100, ""],
    ["sprites/a.b@200.png", "a.b@200.png", "sprites", "a.b@200", "a.b", 200, "png"],
    ["sprites/x@2x.png", "x@2x.png", "sprites", "x@2x", "x", 100, "png"],
    ["sprites/x@0200.png", "x@0200.png", "sprites", "x@0200", "x", 100, "png"],
    ["sprites/x@a@200.png", "x@a@200.png", "sprites", "x@a@200", nil, nil, "png"]
  ]
  cases.each do |full, path, dirname, basename, atlas_basename, scale, extension|
    entry = ORB::TextureAtlas.__get_texture_atlas_entry__("sprites", { path: full })
    assert.equal! entry, { path: path, dirname: dirname, basename: basename, atlas_basename: atlas_basename,
                           atlas_scale_enum: scale, extension: extension }, full
  end
end

def test_debug_switch_logs_the_search args, assert
  saved = $orb.instance_variable_get(:@ffi_misc)
  log = AtlasTestLog.new
  $orb.instance_variable_set(:@ffi_misc, log)
  begin
    atlas_for(%w[sprites/hero.png], "./", cli: {})
    quiet = log.texts.dup
    atlas_for(%w[sprites/hero.png], "./", cli: { debug_texture_atlases: nil })
  ensure
    $orb.instance_variable_set(:@ffi_misc, saved)
  end
  assert.equal! quiet, []
  assert.equal! log.texts.length, 3, log.texts.inspect
  assert.true! log.texts[0].start_with?("* DETERMINING TEXTURE ATLASES - Begin: "), log.texts[0]
  assert.equal! log.texts[1], "* DETERMINING TEXTURE ATLASES - Search Directory: sprites"
  assert.true! log.texts[2].start_with?("* DETERMINING TEXTURE ATLASES - End: "), log.texts[2]
end

# Through the runtime and the real FFI::File over files the test writes
# into the game directory.
def test_runtime_discovers_files_in_the_game_directory args, assert
  orb = args.orb
  root = "tmp_atlas_tests/art"
  files = %W[#{root}/hero.png #{root}/hero@200.png #{root}/hero.jpg #{root}/sub/tree.png #{root}/sub/tree@400.png
             #{root}/.hidden/bush.png #{root}/.hidden/bush@200.png #{root}/art_old/rock.png #{root}/art_old/rock@125.png]
  files.each { |f| assert.true! orb.write_file(f, "not really an image"), f }
  atlas = orb.get_texture_atlas(" #{root}/ ")
  assert.equal! atlas.keys.sort, %W[#{root}/art_old/rock.png #{root}/hero.png #{root}/sub/tree.png]
  atlas_expect assert, atlas, "#{root}/hero.png", "#{root}/hero.png" => [100, 125, 150, 175],
               "#{root}/hero@200.png" => [200, 250, 300, 400]
  assert.equal! atlas_levels(atlas["#{root}/sub/tree.png"])[400], ["#{root}/sub/tree@400.png", 400]
  assert.equal! atlas_levels(atlas["#{root}/art_old/rock.png"])[250], ["#{root}/art_old/rock@125.png", 125]
  assert.equal! orb.get_texture_atlas("tmp_atlas_tests/nothing_here"), {}
ensure
  (files || []).each { |f| orb.delete_file(f) }
end
