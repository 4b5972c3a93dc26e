# ORB::TextureAtlas: finds the HD copies of the game's sprites. Next to
# hero.png a game may place hero@125.png ... hero@400.png; the walk below
# groups such files into families and answers, for every plain image with
# at least one sibling, the file to draw at each render scale. The engine
# calls this once per script host setup (only with game_metadata.hd) and
# keeps the answer in its native atlas map. Files are reached through
# FFI::File#list and #stat, so packaged games work the same as folders.
module ORB
  module TextureAtlas
    # Render scale percents the engine can ask for, lowest first.
    SCALES = [100, 125, 150, 175, 200, 250, 300, 400].freeze

    # The info Hash keys the engine reads, built once.
    TEXTURE_KEYS = SCALES.map { |s| ["texture_#{s}", "texture_#{s}_scale_enum"] }.freeze

    # Path of an image => info Hash with the String keys "texture_100" ...
    # "texture_400" (the image to draw at that scale) and
    # "texture_100_scale_enum" ... "texture_400_scale_enum" (that image's
    # own scale percent).
    def self.get_texture_atlas(sprites_directory, ffi_file:, cli_arguments:)
      debug = cli_arguments.respond_to?(:key?) && cli_arguments.key?(:debug_texture_atlases)
      dir = __search_directory__(sprites_directory)
      if debug
        puts "* DETERMINING TEXTURE ATLASES - Begin: #{__now__}"
        puts "* DETERMINING TEXTURE ATLASES - Search Directory: #{dir}"
      end

      candidates = []
      __get_texture_atlas_recur__(dir, candidates, ffi_file: ffi_file)
      entries = candidates.map { |stat| __get_texture_atlas_entry__(dir, stat) }
      families = entries.group_by { |e| [e[:dirname], e[:atlas_basename], e[:extension]] }

      atlas = {}
      entries.each do |entry|
        next unless entry[:atlas_scale_enum] == 100

        family = families[[entry[:dirname], entry[:atlas_basename], entry[:extension]]]
        next unless family.length > 1

        atlas[File.join(dir, entry[:path])] = __info__(dir, entry, family)
      end

      puts "* DETERMINING TEXTURE ATLASES - End: #{__now__}" if debug
      atlas
    end

    # Appends the stat Hash of every file under dir (at any depth) to
    # candidate_files. Directories whose own name begins with "." (version
    # control, editor folders) are not entered; names that cannot be
    # stat-ed are left out.
    def self.__get_texture_atlas_recur__(dir, candidate_files, ffi_file:)
      (ffi_file.list(dir) || []).each do |name|
        stat = ffi_file.stat(File.join(dir, name))
        next unless stat

        if stat[:file_type] == :directory
          next if name.start_with?(".")

          __get_texture_atlas_recur__(stat[:path], candidate_files, ffi_file: ffi_file)
        else
          candidate_files << stat
        end
      end
      candidate_files
    end

    # One file entry: its path below dir, its directory, its base name, the
    # family name and scale percent its "@" suffix gives, and its extension.
    def self.__get_texture_atlas_entry__(dir, stat)
      full = stat[:path].to_s
      path = full.start_with?("#{dir}/") ? full[(dir.length + 1)..-1] : full
      path = path[1..-1] if path.start_with?("/")

      name, extension = __split_extension__(File.basename(full))
      atlas_basename, scale = __split_scale__(name)
      {
        path: path,
        dirname: File.dirname(full),
        basename: name,
        atlas_basename: atlas_basename,
        atlas_scale_enum: scale,
        extension: extension
      }
    end

    # Blank, ".", "./" and anything climbing out with ".." search the
    # default "sprites"; the answer has no leading or trailing "/".
    def self.__search_directory__(value)
      dir = value.to_s.strip
      dir = "sprites" if dir.empty? || dir == "." || dir == "./" || dir.include?("..")
      dir = dir[1..-1] if dir.start_with?("/")
      dir = dir[0..-2] if dir.end_with?("/")
      # "/" alone would otherwise search the whole game with keys that name
      # no sprite.
      dir.empty? ? "sprites" : dir
    end

    # "hero.png" => ["hero", "png"]; "hero" => ["hero", ""]; ".png" (a
    # name that is only an extension) => [".png", ""]; "a.b.png" =>
    # ["a.b", "png"].
    def self.__split_extension__(file_name)
      pieces = file_name.split(".")
      case pieces.length
      when 0 then [file_name, ""]
      when 1 then [pieces[0], ""]
      when 2 then pieces[0].empty? ? [".#{pieces[1]}", ""] : pieces
      else [pieces[0..-2].join("."), pieces[-1]]
      end
    end

    # "hero@200" => ["hero", 200]; "hero" and "hero@2x" or "hero@0200" (no
    # plain number) => ["hero", 100]; more than one "@" => [nil, nil], a
    # file that joins no family.
    def self.__split_scale__(name)
      pieces = name.split("@")
      case pieces.length
      when 0 then [name, 100]
      when 1 then [pieces[0], 100]
      when 2
        scale = pieces[1].to_i
        [pieces[0], scale.to_s == pieces[1] ? scale : 100]
      else [nil, nil]
      end
    end

    # The info Hash of one plain image. Its own file is the 100 level even
    # when the family holds other plain files (hero@2x.png next to
    # hero.png), so an image never draws as a different picture at 100%.
    def self.__info__(dir, entry, family)
      chosen = { 100 => entry }
      SCALES.each do |scale|
        next if scale == 100

        member = family.find { |m| m[:atlas_scale_enum] == scale }
        chosen[scale] = member if member
      end
      # A level without a copy of its own uses the sharpest copy below it,
      # so a higher render scale never draws a blurrier image than a lower
      # one (hero@200 serves 250 and 300, not hero at 100).
      (1...SCALES.length).each { |i| chosen[SCALES[i]] ||= chosen[SCALES[i - 1]] }

      info = {}
      SCALES.each_with_index do |scale, i|
        member = chosen[scale]
        texture_key, scale_key = TEXTURE_KEYS[i]
        info[texture_key] = File.join(dir, member[:path])
        info[scale_key] = member[:atlas_scale_enum]
      end
      info
    end

    def self.__now__
      Object.const_defined?(:Time) ? Time.now : ""
    end
  end
end
