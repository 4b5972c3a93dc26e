# ORB::Runtime::Window: window, cursor and display commands, forwarded to
# FFI::Draw. The runtime remembers what it last set so that repeated calls
# send nothing, and refuses operations the platform cannot perform. Every
# method answers nil.
module ORB
  class Runtime
    module Window
      # The settings HD mode needs, as the game's metadata file would hold
      # them.
      HD_NOTICE_TAIL = "HD Mode is not enabled. Go to your game's =metadata/game_metadata.txt= file, make the following changes, and restart:\n" \
                       "#+begin_src\n" \
                       "  # render sprites and labels at the display's resolution\n" \
                       "  hd=true\n" \
                       "  # use the display's full pixel density\n" \
                       "  highdpi=true\n" \
                       "  # let the game draw outside the 16:9 canvas as well\n" \
                       "  hd_letterbox=false\n" \
                       "#+end_src\n"

      def set_window_fullscreen(enable = true)
        enable = enable ? true : false
        return nil if @window_fullscreen == enable
        @window_fullscreen = enable
        @ffi_draw.toggle_fullscreen(enable)
        @ffi_draw.set_mouse_grab(0)
        @ffi_draw.set_mouse_grab(@mouse_grab.to_i)
        nil
      end

      def toggle_window_fullscreen
        set_window_fullscreen(!@window_fullscreen)
      end

      def window_fullscreen?
        @window_fullscreen
      end

      def set_window_title(title)
        @ffi_draw.set_window_title(title.nil? ? "" : title.to_s)
        nil
      end

      def set_window_scale(scale, aspect_unit_w = 16, aspect_unit_h = 9)
        @ffi_draw.set_window_scale(scale, aspect_unit_w, aspect_unit_h)
        nil
      end

      def set_window_size(w_px, h_px)
        @ffi_draw.set_window_size(w_px, h_px)
        nil
      end

      def set_window_position(x_px, y_px)
        @ffi_draw.set_window_position(x_px, y_px)
        nil
      end

      def maximize_window
        return nil if platform?(:steamdeck) || platform?(:ios) || platform?(:android)
        @ffi_draw.maximize_window
        nil
      end

      def move_window_to_next_display
        return nil if platform?(:steamdeck) || platform?(:ios) || platform?(:android) || platform?(:web)
        @ffi_draw.move_window_to_next_display
        nil
      end

      def raise_window
        return nil if @production
        @ffi_draw.raise_window
        nil
      end

      def can_change_orientation?
        return false if platform?(:steamdeck) || platform?(:web)
        if platform?(:ios) || platform?(:android)
          cvar = $cvars["game_metadata.orientation_both"]
          return cvar ? (cvar.value ? true : false) : false
        end
        true
      end

      # The engine reports the new orientation with a later size change, so
      # a toggle is remembered until then: set_orientation called every tick
      # must not toggle again while the first toggle is still on its way.
      def toggle_orientation
        return nil unless can_change_orientation?
        @orientation_requested = __opposite_orientation__(__orientation_target__)
        @ffi_draw.toggle_orientation
        nil
      end

      def set_orientation(name)
        toggle_orientation if name.to_sym != __orientation_target__
        nil
      end

      # The orientation the window has or, while a toggle is on its way, will
      # have.
      def __orientation_target__
        requested = @orientation_requested
        return @orientation if requested.nil?
        if requested == @orientation
          @orientation_requested = nil
          return @orientation
        end
        requested
      end

      def __opposite_orientation__(orientation)
        orientation == :portrait ? :landscape : :portrait
      end

      def set_scale_quality(value)
        @ffi_draw.set_scale_quality(value)
        nil
      end

      def set_hd_max_scale(value)
        unless @args.grid.hd?
          log_info("* INFO - ~set_hd_max_scale~ ignored.\n#{HD_NOTICE_TAIL}")
          return nil
        end
        @ffi_draw.set_hd_max_scale(value)
        nil
      end

      def toggle_hd_letterbox
        grid = @args.grid
        unless grid.hd?
          log_info("* INFO - ~toggle_hd_letterbox~ ignored.\n#{HD_NOTICE_TAIL}")
          return nil
        end
        grid.letterbox = !grid.letterbox
        @ffi_draw.toggle_hd_letterbox
        nil
      end

      def set_hd_letterbox(value)
        toggle_hd_letterbox if (value ? true : false) != (@args.grid.letterbox ? true : false)
        nil
      end

      def show_cursor
        return nil if @cursor_shown
        @cursor_shown = true
        @ffi_draw.toggle_cursor(true)
        nil
      end

      def hide_cursor
        return nil unless @cursor_shown
        if @console.visible?
          @ffi_draw.toggle_cursor(true)
          return nil
        end
        @cursor_shown = false
        @ffi_draw.toggle_cursor(false)
        nil
      end

      def cursor_shown?
        @cursor_shown
      end

      def set_system_cursor(type)
        @ffi_draw.set_system_cursor(type.to_s)
        nil
      end

      def set_cursor(fname, hot_x = 0, hot_y = 0)
        @ffi_draw.set_cursor(fname, hot_x, hot_y)
        nil
      end

      def set_mouse_grab(value)
        return nil if value == @mouse_grab
        @mouse_grab = value
        @ffi_draw.set_mouse_grab(value.to_i)
        nil
      end

      def mouse_grab
        @mouse_grab
      end

      def openurl(url)
        @ffi_draw.openurl(url.to_s)
        nil
      end

      def mailto(email:, subject:, body: nil, exception: nil)
        openurl("mailto:#{email}?subject=#{subject}&body=#{body}")
      end
    end
  end
end
