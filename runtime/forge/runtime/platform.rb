# ORB::Runtime::Platform: platform tags that switch behaviour (touch input,
# window operations, audio defaults).
module ORB
  class Runtime
    module Platform
      PLATFORM_TAGS = {
        "Mac OS X" => [:desktop, :macos, :osx, :mac, :macosx],
        "Windows" => [:desktop, :windows, :win],
        "Linux" => [:desktop, :linux, :nix],
        "Emscripten" => [:web, :wasm, :html, :emscripten],
        "iOS" => [:mobile, :ios, :touch],
        "Android" => [:mobile, :android, :touch],
        "Steam Deck" => [:steamdeck, :steam_deck, :steam]
      }.freeze

      STEAM_DESKTOP_TAGS = [:steam, :steam_desktop, :steamdesktop].freeze

      attr_reader :platform, :is_steam_release

      def platform_mappings
        result = {}
        PLATFORM_TAGS.each do |name, tags|
          tags = tags.dup
          tags << :touch if name == "Emscripten" && @touch_enabled
          tags.concat(STEAM_DESKTOP_TAGS) if @is_steam_release && tags.include?(:desktop)
          result[name] = tags
        end
        result
      end

      def __rebuild_platform_tags__
        @platform_mappings = platform_mappings
        tags = @platform_mappings[@platform] || []
        @platform_tags = {}
        tags.each { |tag| @platform_tags[tag] = true }
        nil
      end

      def platform?(tag)
        @platform_tags.key?(tag)
      end

      def platform=(name)
        unless PLATFORM_TAGS.key?(name)
          assignments = PLATFORM_TAGS.keys.map { |n| "  $orb.platform = \"#{n}\"\n" }.join
          raise "* ERROR: Invalid platform was provided.\n" \
                "These are valid platform values:\n" \
                "#+begin_src\n" \
                "  # view platform mappings\n" \
                "  puts $orb.platform_mappings\n" \
                "#{assignments}" \
                "#+end_src\n" \
                "Additionally you can set the ~is_steam_release~ property to emulate Steam Desktop:\n" \
                "#+begin_src\n" \
                "  $orb.is_steam_release = true\n" \
                "  puts $orb.platform?(:steamdesktop) # true\n" \
                "#+end_src\n"
        end
        @platform = name
        __rebuild_platform_tags__
      end

      def is_steam_release=(value)
        @is_steam_release = value
        __rebuild_platform_tags__
      end
    end
  end
end
