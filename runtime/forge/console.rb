# ORB::Console: the in-game developer console. It keeps the engine log
# (every log entry arrives through the runtime's `new_log_entry`), the
# command history and its visibility; drawing and the prompt come later.
module ORB
  class Console
    class Color
      attr_accessor :r, :g, :b, :a

      def initialize(color)
        @r = color[0]
        @g = color[1]
        @b = color[2]
        @a = color[3] || 255
      end

      def mult_alpha(f)
        Color.new([@r, @g, @b, (@a * f).to_i])
      end

      def to_a
        [@r, @g, @b, @a]
      end

      def to_h
        { r: @r, g: @g, b: @b, a: @a }
      end
    end

    HISTORY_FILE = "logs/console_history.txt".freeze
    WRAP_WIDTH = 160

    attr_accessor :log, :archived_log, :max_log_lines, :max_history, :show_reason,
                  :shown_at, :toggled_at, :logo, :animation_duration, :last_command
    attr_reader :history, :prompt, :menu, :font_style

    def initialize(runtime)
      @runtime = runtime
      @font_style = FontStyle.new(font: "font.ttf", size_enum: -2, line_height: 1.1)
      @log = ["Console ready."]
      @archived_log = []
      @max_log_lines = 1000
      @max_history = 5000
      @history = []
      @history_index = -1
      @logo = "console-logo.png"
      @animation_duration = 60
      @shown_at = -1
      @toggled_at = nil
      @show_reason = nil
      @visible = false
      @disabled = false
      @toast_ids = []
      @last_log_lines = nil
      @last_log_lines_count = 1
      @prompt = Prompt.new
      @menu = Menu.new(self)
      load_history
    end

    def visible?
      @visible
    end

    def hidden?
      !@visible
    end

    def ready?
      @visible
    end

    def disabled?
      @disabled
    end

    def disable
      hide
      @disabled = true
    end

    def enable
      @disabled = false
    end

    def show(reason = nil)
      @shown_at = Kernel.global_tick_count
      @show_reason = reason
      toggle unless @visible
      nil
    end
    alias open show

    def hide
      return nil unless @visible
      toggle
      @archived_log.concat(@log)
      excess = @archived_log.length - @max_log_lines
      @archived_log.shift(excess) if excess > 0
      @log = []
      @show_reason = nil
      nil
    end
    alias close hide

    def toggle
      return nil if @disabled && !@visible
      @visible = !@visible
      @toggled_at = Kernel.global_tick_count
      nil
    end

    def add_text(obj, loglevel = -1)
      loglevel = -1 if loglevel < 0
      loglevel = 5 if loglevel > 5
      text = obj.to_s
      loglevel = 2 if loglevel == -1 && text.start_with?("!c!")
      prefix = loglevel == -1 ? nil : "!c!#{loglevel}"
      lines = []
      text.split("\n").each do |line|
        line.wrapped_lines(WRAP_WIDTH).each { |wrapped| lines << (prefix ? prefix + wrapped : wrapped) }
      end
      lines << (prefix || "") if lines.empty?
      if !lines.empty? && lines == @last_log_lines
        @last_log_lines_count += 1
        @log.slice!(-lines.length, lines.length) if @log.length >= lines.length
        repeated = lines.dup
        repeated[-1] = "#{repeated[-1]} (#{@last_log_lines_count})"
        @log.concat(repeated)
      else
        lines.each do |line|
          @log.shift while @log.length > @max_log_lines
          @log << line
        end
        @last_log_lines_count = 1
        @last_log_lines = lines
      end
      nil
    end

    def add_primitive(obj, global_at: nil)
      add_text(obj)
    end

    def clear_logs(global_at: nil)
      @log.clear
      @archived_log.clear
    end

    def toast(id, *messages)
      unless id.is_a?(Symbol)
        raise "* ERROR:\nargs.orb.console.toast has the following signature:\n\n  def toast id, *messages\n  end\n\n" \
              "The id property uniquely defines the message and must be\na symbol.\n"
      end
      return nil if @toast_ids.include?(id)
      @toast_ids << id
      ORB::Log.info("* TOAST: :#{id}")
      messages.each { |m| ORB::Log.info("** #{m}") }
      nil
    end

    def perma_toast(id, *messages)
      toast(id, *messages)
    end

    def set_command(command, show_reason = nil)
      set_command_silent(command, show_reason)
      show(show_reason)
    end

    def set_command_silent(command, show_reason = nil)
      set_command_extended(command: command, histories: [], show_reason: show_reason)
    end

    def set_command_extended(opts)
      command = opts[:command] || "puts 'Hello World'"
      (opts[:histories] || []).each { |h| @history << h }
      @history << command unless @history.last == command
      @prompt.current_input_str = command
      @history_index = -1
      save_history
    end

    def current_input_str
      @prompt.current_input_str
    end

    def current_input_str=(text)
      @prompt.current_input_str = text
    end

    def clear
      @log.clear
      @archived_log.clear
      @prompt.clear
      :console_silent_eval
    end

    def save_history
      @runtime.write_file_root(HISTORY_FILE, @history.reverse.join("\n"))
    rescue => e
      ORB::Log.error("* ERROR: The console history could not be saved: #{e.message}")
    end

    def load_history
      @history = []
      text = @runtime.ffi_file.read(HISTORY_FILE)
      return unless text
      text = text.chomp
      text.split("\n").each do |line|
        line = line.chomp
        next if line.empty?
        @history.unshift(line)
        break if @history.length >= @max_history
      end
      @history.uniq!
    end

    def tick(_args)
      nil
    end

    def serialize
      { visible: @visible, disabled: @disabled, log_lines: @log.length, history: @history.length }
    end

    def inspect
      "#<ORB::Console #{serialize}>"
    end
  end
end
