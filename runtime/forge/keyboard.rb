# Keyboard state (`args.inputs.keyboard`). The engine reports raw SDL key
# events through the runtime's CBridge entry points. A pressed key's names
# carry a tick count in `key_down` for one tick, then in `key_held` until
# the release shows in `key_up` for one tick.
module ORB
  # Directions shared by the keyboard and the controllers: built on the
  # object's own `left`, `right`, `up` and `down`.
  module DirectionalInputHelperMethods
    DIAGONAL = 0.7071067811865476
    REQUIRED_METHODS = [:key_held, :key_down, :up, :down, :left, :right].freeze

    # The helpers are built on the includer's own directions, so the class
    # must already define them when it includes this module.
    def self.included(base)
      missing = REQUIRED_METHODS.reject { |m| base.method_defined?(m) }
      return if missing.empty?
      directions = "up|down|left|right"
      diagnostics = REQUIRED_METHODS.map { |m| "- #{m}: #{base.method_defined?(m)}" }.join("\n")
      raise "* ERROR\n" \
            "The ORB::DirectionalKeys module should only be included in objects that respond to the following api hierarchy:\n" \
            "\n" \
            "- (#{directions})\n" \
            "- key_held.(#{directions})\n" \
            "- key_down.(#{directions})\n" \
            "\n" \
            "#{base} does not respond to all of these methods (here is the diagnostics):\n" \
            "#{diagnostics}\n\n" \
            "Please implement the methods that returned false inthe list above.\n"
    end

    def left_right
      return -1 if left
      return 1 if right
      0
    end

    def up_down
      return 1 if up
      return -1 if down
      0
    end

    def directional_vector
      lr = left_right
      ud = up_down
      return nil if lr == 0 && ud == 0
      return { x: DIAGONAL * lr, y: DIAGONAL * ud } if lr != 0 && ud != 0
      { x: lr, y: ud }
    end

    def directional_angle
      return nil if left_right == 0 && up_down == 0
      Math.atan2(up_down, left_right) * 180.0 / Math::PI
    end
  end

  module KeyboardTables
    SDLK_MASK = 1 << 30

    CHAR_NAMES = {
      "!" => :exclamation_point, "\"" => :double_quotation_mark, "'" => :single_quotation_mark,
      "#" => :hash, "$" => :dollar, "%" => :percent, "&" => :ampersand, "*" => :asterisk,
      "(" => :open_round_brace, ")" => :close_round_brace, "{" => :open_curly_brace,
      "}" => :close_curly_brace, "[" => :open_square_brace, "]" => :close_square_brace,
      ":" => :colon, ";" => :semicolon, "=" => :equal, "-" => :hyphen, "+" => :plus,
      "_" => :underscore, "~" => :tilde, "`" => :backtick, "^" => :caret, "@" => :at,
      "|" => :pipe, "?" => :question_mark, "<" => :less_than, ">" => :greater_than,
      "." => :period, "," => :comma, "/" => :forward_slash, "\\" => :back_slash,
      "\xA7" => :section, "\xBA" => :ordinal_indicator, "\xB2" => :superscript_two,
      "\b" => :backspace, "\e" => :escape, "\r" => :enter, "\t" => :tab, " " => :space,
      "0" => :zero, "1" => :one, "2" => :two, "3" => :three, "4" => :four,
      "5" => :five, "6" => :six, "7" => :seven, "8" => :eight, "9" => :nine
    }.freeze

    KEYCODE_NAMES = {
      127 => [:delete],
      SDLK_MASK | 57 => [:caps_lock],
      SDLK_MASK | 58 => [:f1], SDLK_MASK | 59 => [:f2], SDLK_MASK | 60 => [:f3],
      SDLK_MASK | 61 => [:f4], SDLK_MASK | 62 => [:f5], SDLK_MASK | 63 => [:f6],
      SDLK_MASK | 64 => [:f7], SDLK_MASK | 65 => [:f8], SDLK_MASK | 66 => [:f9],
      SDLK_MASK | 67 => [:f10], SDLK_MASK | 68 => [:f11], SDLK_MASK | 69 => [:f12],
      SDLK_MASK | 70 => [:print_screen], SDLK_MASK | 71 => [:scroll_lock],
      SDLK_MASK | 72 => [:pause], SDLK_MASK | 73 => [:insert], SDLK_MASK | 74 => [:home],
      SDLK_MASK | 75 => [:page_up], SDLK_MASK | 77 => [:end], SDLK_MASK | 78 => [:page_down],
      SDLK_MASK | 79 => [:right_arrow], SDLK_MASK | 80 => [:left_arrow],
      SDLK_MASK | 81 => [:down_arrow], SDLK_MASK | 82 => [:up_arrow],
      SDLK_MASK | 83 => [:num_lock], SDLK_MASK | 84 => [:kp_divide],
      SDLK_MASK | 85 => [:kp_multiply], SDLK_MASK | 86 => [:kp_minus],
      SDLK_MASK | 87 => [:kp_plus], SDLK_MASK | 88 => [:kp_enter],
      SDLK_MASK | 89 => [:kp_one], SDLK_MASK | 90 => [:kp_two], SDLK_MASK | 91 => [:kp_three],
      SDLK_MASK | 92 => [:kp_four], SDLK_MASK | 93 => [:kp_five], SDLK_MASK | 94 => [:kp_six],
      SDLK_MASK | 95 => [:kp_seven], SDLK_MASK | 96 => [:kp_eight], SDLK_MASK | 97 => [:kp_nine],
      SDLK_MASK | 98 => [:kp_zero], SDLK_MASK | 99 => [:kp_period], SDLK_MASK | 103 => [:kp_equals],
      SDLK_MASK | 224 => [:control_left, :control], SDLK_MASK | 225 => [:shift_left, :shift],
      SDLK_MASK | 226 => [:alt_left, :alt], SDLK_MASK | 227 => [:meta_left, :meta],
      SDLK_MASK | 228 => [:control_right, :control], SDLK_MASK | 229 => [:shift_right, :shift],
      SDLK_MASK | 230 => [:alt_right, :alt], SDLK_MASK | 231 => [:meta_right, :meta],
      SDLK_MASK | 268 => [:ac_search], SDLK_MASK | 269 => [:ac_home], SDLK_MASK | 270 => [:ac_back],
      SDLK_MASK | 271 => [:ac_forward], SDLK_MASK | 272 => [:ac_stop],
      SDLK_MASK | 273 => [:ac_refresh], SDLK_MASK | 274 => [:ac_bookmarks]
    }.freeze

    SCANCODE_NAMES = { 26 => :w_scancode, 4 => :a_scancode, 22 => :s_scancode, 7 => :d_scancode }.freeze

    SHIFT_CHARS = {
      "`" => "~", "1" => "!", "2" => "@", "3" => "#", "4" => "$", "5" => "%", "6" => "^",
      "7" => "&", "8" => "*", "9" => "(", "0" => ")", "-" => "_", "=" => "+", "[" => "{",
      "]" => "}", "\\" => "|", ";" => ":", "'" => "\"", "," => "<", "." => ">", "/" => "?"
    }.freeze

    # Name of a shifted symbol to the name of its unshifted key (US layout).
    SHIFT_CHAR_TO_CHAR = {
      tilde: :backtick, underscore: :hyphen, double_quotation_mark: :single_quotation_mark,
      exclamation_point: :one, at: :two, hash: :three, dollar: :four, percent: :five,
      caret: :six, ampersand: :seven, asterisk: :eight, open_round_brace: :nine,
      close_round_brace: :zero, open_curly_brace: :open_square_brace,
      close_curly_brace: :close_square_brace, colon: :semicolon, plus: :equal,
      pipe: :back_slash, question_mark: :forward_slash, less_than: :comma, greater_than: :period
    }.freeze

    CHAR_TO_SHIFT_CHAR = SHIFT_CHAR_TO_CHAR.each_with_object({}) { |(k, v), h| h[v] = k }.freeze

    MODIFIER_NAMES = [:shift, :control, :alt, :meta, :shift_left, :shift_right,
                      :control_left, :control_right, :alt_left, :alt_right,
                      :meta_left, :meta_right].freeze

    LETTERS = ("a".."z").map(&:to_sym).freeze

    KEY_NAMES = (LETTERS + CHAR_NAMES.values + KEYCODE_NAMES.values.flatten +
                 SCANCODE_NAMES.values + [:w_scancode]).uniq.freeze

    ALIASES = {
      section_sign: :section, equal_sign: :equal, dollar_sign: :dollar, percent_sign: :percent,
      circumflex: :caret, less_than_sign: :less_than, greater_than_sign: :greater_than,
      left_shift: :shift_left, right_shift: :shift_right,
      option: :alt, option_left: :alt_left, option_right: :alt_right, left_alt: :alt_left,
      right_alt: :alt_right, left_option: :alt_left, right_option: :alt_right,
      command: :meta, command_left: :meta_left, command_right: :meta_right, left_meta: :meta_left,
      right_meta: :meta_right, left_command: :meta_left, right_command: :meta_right,
      ctrl: :control, left_control: :control_left, right_control: :control_right,
      left_ctrl: :control_left, right_ctrl: :control_right,
      minus: :hyphen, dash: :hyphen, pageup: :page_up, pagedown: :page_down,
      backslash: :back_slash, forwardslash: :forward_slash, capslock: :caps_lock,
      scrolllock: :scroll_lock, numlock: :num_lock, printscreen: :print_screen, break: :pause,
      left: :left_arrow, right: :right_arrow, up: :up_arrow, down: :down_arrow
    }.freeze

    SHIFT_MASK = 1 | 2
    CONTROL_MASK = 64 | 128
    ALT_MASK = 256 | 512
    META_MASK = 1024 | 2048
    MODIFIER_MASKS = { shift: SHIFT_MASK, control: CONTROL_MASK, alt: ALT_MASK, meta: META_MASK }.freeze

    # Every key name with the character that produces it, one per line,
    # for the unknown-key error.
    KEY_CHARS = CHAR_NAMES.each_with_object({}) { |(char, name), h| h[name] ||= char }.freeze
    KEY_LIST = KEY_NAMES.map do |name|
      char = KEY_CHARS[name] || (LETTERS.include?(name) ? name.to_s : nil)
      char ? "- :#{name} #{char.inspect}" : "- :#{name}"
    end.join("\n").freeze

    def self.key_list
      KEY_LIST
    end

    def self.char_with_shift(char)
      SHIFT_CHARS[char] || (char >= "a" && char <= "z" && char.length == 1 ? char.upcase : char)
    end
  end

  # One set of keys (down, held, up or repeat): each key name holds the tick
  # count at which it entered the set, or nil.
  class KeyboardKeys
    attr_accessor :keycodes, :char, :raw_key

    def initialize
      @values = {}
      @keycodes = {}
      @char = nil
      @raw_key = nil
    end

    def get(name)
      @values[name]
    end

    def set(name, value)
      if value
        @values[name] = value
      else
        @values.delete(name)
      end
    end

    def clear
      @values.clear unless @values.empty?
      @keycodes.clear unless @keycodes.empty?
      @char = nil
      @raw_key = nil
    end

    def empty?
      @values.empty?
    end

    def truthy_keys
      @values.keys
    end

    KeyboardTables::KEY_NAMES.each do |name|
      define_method(name) { @values[name] }
      define_method("#{name}=") { |value| set(name, value) }
      define_method("#{name}!") do
        value = @values[name]
        @values.delete(name)
        value
      end
    end

    KeyboardTables::ALIASES.each do |alias_name, name|
      define_method(alias_name) { @values[name] }
      define_method("#{alias_name}=") { |value| set(name, value) }
      define_method("#{alias_name}!") do
        value = @values[name]
        @values.delete(name)
        value
      end
    end

    def method_missing(name, *args, &block)
      text = name.to_s.chomp("!").chomp("=")
      prefix = text[0, 2]
      suggestions = KeyboardTables::KEY_NAMES.select { |k| k.to_s.start_with?(prefix) }
      raise NoMethodError, "There is no key on the keyboard called :#{text}. Did you mean #{suggestions.map { |s| ":#{s}" }.join(", ")}?\n" \
                           "#{KeyboardTables.key_list}"
    end

    def respond_to_missing?(_name, _include_all = false)
      false
    end

    def serialize
      { keys: @values.dup, char: @char, raw_key: @raw_key }
    end

    def inspect
      serialize.to_s
    end
  end

  class Keyboard
    attr_accessor :key_down, :key_held, :key_up, :key_repeat, :has_focus, :active

    def initialize
      @key_down = KeyboardKeys.new
      @key_held = KeyboardKeys.new
      @key_up = KeyboardKeys.new
      @key_repeat = KeyboardKeys.new
      @has_focus = false
      @active = nil
    end

    def key_down?(name)
      @key_down.get(__resolve__(name))
    end

    def key_held?(name)
      @key_held.get(__resolve__(name))
    end

    def key_up?(name)
      @key_up.get(__resolve__(name))
    end

    def key_repeat?(name)
      @key_repeat.get(__resolve__(name))
    end

    def key_down_or_held?(name)
      name = __resolve__(name)
      @key_down.get(name) || @key_held.get(name)
    end

    def left
      __down_or_held__(:left_arrow) || __down_or_held__(:a_scancode)
    end

    def right
      __down_or_held__(:right_arrow) || __down_or_held__(:d_scancode)
    end

    def up
      __down_or_held__(:up_arrow) || __down_or_held__(:w_scancode)
    end

    def down
      __down_or_held__(:down_arrow) || __down_or_held__(:s_scancode)
    end

    def key
      { down: @key_down.truthy_keys, held: @key_held.truthy_keys,
        down_or_held: (@key_down.truthy_keys + @key_held.truthy_keys).uniq,
        up: @key_up.truthy_keys, repeat: @key_repeat.truthy_keys }
    end

    def clear
      @key_down.clear
      @key_held.clear
      @key_up.clear
      @key_repeat.clear
    end

    # Names for a key event: the key's own names, then the modifiers held.
    def sdl_to_key(raw_key, modifier)
      names = nil
      char = nil
      if raw_key < 0 || raw_key > 255
        names = KeyboardTables::KEYCODE_NAMES[raw_key]
        return nil unless names
        names = names.dup
      else
        char = raw_key.chr
        char = KeyboardTables.char_with_shift(char) if (modifier & KeyboardTables::SHIFT_MASK) != 0
        keycode_names = KeyboardTables::KEYCODE_NAMES[raw_key]
        name = KeyboardTables::CHAR_NAMES[char]
        if name
          names = [name]
        elsif keycode_names
          names = keycode_names.dup
        elsif char.length == 1 && char >= "A" && char <= "Z"
          names = [char.downcase.to_sym]
        elsif char.length == 1 && char >= "a" && char <= "z"
          names = [char.to_sym]
        else
          # A key of another layout: only its code is kept (in keycodes).
          return nil
        end
      end
      names << :alt if (modifier & KeyboardTables::ALT_MASK) != 0
      names << :meta if (modifier & KeyboardTables::META_MASK) != 0
      names << :control if (modifier & KeyboardTables::CONTROL_MASK) != 0
      names << :shift if (modifier & KeyboardTables::SHIFT_MASK) != 0
      [names, char]
    end

    def key_down_in_game(raw_key, modifier, inputs)
      tick = Kernel.tick_count
      @key_down.keycodes[raw_key] = tick
      result = sdl_to_key(raw_key, modifier)
      return unless result
      names, char = result
      modifier_key = KeyboardTables::MODIFIER_NAMES.include?(names[0])
      if !modifier_key && (@key_down.get(:shift) || @key_held.get(:shift))
        names.dup.each do |n|
          unshifted = KeyboardTables::SHIFT_CHAR_TO_CHAR[n]
          names << unshifted if unshifted
        end
      end
      # Every event of a held key is a repeat; only a new press is a down.
      names.each { |n| @key_repeat.set(n, tick) }
      names = names.reject { |n| @key_held.get(n) }.uniq
      @active = tick
      @key_down.char = char
      @key_down.raw_key = raw_key
      names.each { |n| @key_down.set(n, tick) }
      inputs.__mark_active__(:keyboard)
    end

    def key_up_in_game(raw_key, modifier, inputs)
      tick = Kernel.tick_count
      @key_up.keycodes[raw_key] = tick
      result = sdl_to_key(raw_key, modifier)
      return unless result
      names, char = result
      if KeyboardTables::MODIFIER_NAMES.include?(names[0])
        # The other side of the same modifier may still be down.
        names = names.reject { |n| (mask = KeyboardTables::MODIFIER_MASKS[n]) && (modifier & mask) != 0 && n != names[0] }
      else
        # A modifier still in the mask is still held: releasing 1 with
        # shift down does not release shift. The unshifted key that the
        # press added goes with the symbol.
        names = names.reject { |n| KeyboardTables::MODIFIER_MASKS[n] }
        names.dup.each do |n|
          unshifted = KeyboardTables::SHIFT_CHAR_TO_CHAR[n]
          names << unshifted if unshifted
        end
      end
      if names.include?(:shift)
        @key_held.truthy_keys.each do |held|
          shifted = KeyboardTables::CHAR_TO_SHIFT_CHAR[held]
          names << shifted if shifted && @key_held.get(shifted)
        end
      end
      names = names.uniq
      @active = tick
      @key_up.char = char
      @key_up.raw_key = raw_key
      names.each { |n| @key_up.set(n, tick) }
      inputs.__mark_active__(:keyboard)
    end

    def scancode_down(raw_scancode)
      name = KeyboardTables::SCANCODE_NAMES[raw_scancode]
      return unless name
      @key_down.set(name, Kernel.tick_count) unless @key_held.get(name)
    end

    def scancode_up(raw_scancode)
      name = KeyboardTables::SCANCODE_NAMES[raw_scancode]
      return unless name
      @key_up.set(name, Kernel.tick_count)
    end

    # Before the game's tick: released keys leave the down and held sets.
    # A key pressed and released between two ticks (a quick tap) stays in
    # `key_down` for this tick, next to its `key_up`, instead of being lost.
    def tick_before
      return if @key_up.empty? && @key_up.keycodes.empty?
      up = @key_up
      down = @key_down
      up.truthy_keys.each do |name|
        down.set(name, nil) unless down.get(name) == up.get(name)
        @key_held.set(name, nil)
      end
      down_codes = down.keycodes
      up.keycodes.each do |code, at|
        down_codes.delete(code) unless down_codes[code] == at
        @key_held.keycodes.delete(code)
      end
    end

    # After the game's tick: keys that went down are now held, except a
    # tapped key, which was released in the same tick.
    def tick_after
      tick = Kernel.tick_count
      up = @key_up
      unless @key_down.empty?
        @key_down.truthy_keys.each do |name|
          @key_held.set(name, tick) unless up.get(name)
          @key_down.set(name, nil)
        end
      end
      unless @key_down.keycodes.empty?
        up_codes = up.keycodes
        @key_down.keycodes.each_key { |code| @key_held.keycodes[code] = tick unless up_codes.key?(code) }
        @key_down.keycodes.clear
      end
      @key_held.char = @key_down.char if @key_down.char
      @key_down.char = nil
      up.clear unless up.empty? && up.keycodes.empty? && up.char.nil?
      @key_repeat.clear unless @key_repeat.empty?
    end

    def method_missing(name, *args, &block)
      text = name.to_s
      if args.empty? && !block
        # A key's own name wins over a combination (control_left is a key).
        resolved = KeyboardTables::ALIASES[name] || name
        if KeyboardTables::KEY_NAMES.include?(resolved)
          Keyboard.send(:define_method, name) { __down_or_held__(resolved) }
          return __send__(name)
        end
        modifier, key = __split_combined__(text)
        if modifier
          Keyboard.send(:define_method, name) do
            @key_down.get(key) && __down_or_held__(modifier)
          end
          return __send__(name)
        end
      end
      super
    end

    def respond_to_missing?(_name, _include_all = false)
      false
    end

    def serialize
      { key_down: @key_down.serialize, key_held: @key_held.serialize, key_up: @key_up.serialize,
        has_focus: @has_focus, active: @active }
    end

    def inspect
      serialize.to_s
    end

    def __down_or_held__(name)
      @key_down.get(name) || @key_held.get(name)
    end

    def __resolve__(name)
      name = name.to_sym
      KeyboardTables::ALIASES[name] || name
    end

    COMBINED_PREFIXES = { "ctrl_" => :control, "control_" => :control, "shift_" => :shift,
                          "alt_" => :alt, "meta_" => :meta }.freeze

    def __split_combined__(text)
      COMBINED_PREFIXES.each do |prefix, modifier|
        next unless text.start_with?(prefix)
        key = text[prefix.length..-1].to_sym
        key = KeyboardTables::ALIASES[key] || key
        return [modifier, key] if KeyboardTables::KEY_NAMES.include?(key)
      end
      nil
    end

    include DirectionalInputHelperMethods
  end
end
