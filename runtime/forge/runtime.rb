# ORB::Runtime (`ORBRuntime`): the one runtime object the engine creates.
# It owns `args`, the native binding objects and the tick flow: the engine
# calls `__sdl_tick__` every frame; the runtime loads the game, runs its
# `tick`, keeps the outputs and sounds for the engine to read, and reports
# its own failures. Games reach its services as `args.orb` or `$orb`.
module ORB
  class Runtime
    class LoadError < StandardError; end

    module Messages
      RETURNED_TO_60_FPS = "Simulation loop has been returned to 60 fps.".freeze
      DEV_MODE_WARNING = "WARNING: YOU ARE IN AN UNOPTIMIZED DEV MODE.".freeze
      MAIN_NOT_FOUND = "app/main.rb not found.".freeze
      CURRENT_EXCEPTION_FILE = "logs/exceptions/current.txt".freeze
    end

    # One request of the development web server, waiting for an answer.
    class HTTPRequest
      EXPIRY_TICKS = 1800
      REJECTED_BODY = "This request was rejected, sorry.\n".freeze

      attr_reader :id, :address, :method, :uri, :headers, :body, :raw_body, :expires_at

      def initialize(address, method, uri, headers, raw_body, handle)
        @address = address
        @method = method
        @uri = uri
        @headers = headers
        @raw_body = raw_body
        @body = HTTPRequest.strip_multipart(raw_body)
        @handle = handle
        @id = HTTPRequest.new_id
        @expires_at = Kernel.global_tick_count + EXPIRY_TICKS
      end

      def self.strip_multipart(raw_body)
        text = raw_body.to_s
        return text unless text.include?("--------------------------") || text.include?("Content-Disposition")
        text.split("\n").reject do |line|
          line.start_with?("--------------------------") || line.start_with?("Content-Disposition")
        end.join("\n")
      end

      def self.new_id
        now = Object.const_defined?(:Time) ? Time.now.to_i : Kernel.global_tick_count
        parts = [now]
        3.times { parts << 100000 + (respond_to?(:rand, true) ? rand(100000) : 0) }
        parts.join("-")
      end

      def responded?
        @handle.nil?
      end

      # Sends the answer once; later calls send nothing.
      def respond(status, body = nil, headers = {})
        handle = @handle
        return nil if handle.nil?
        @handle = nil
        lines = (headers || {}).map { |k, v| "#{k}: #{v}" }
        misc = $orb.ffi_misc
        misc.http_respond(handle, status, body, lines) if misc.respond_to?(:http_respond)
        nil
      end

      def reject
        respond(400, REJECTED_BODY, { "Content-Type" => "text/plain; charset=utf-8" })
      end
    end

    # Handed to the asynchronous HTTP client; answers the request's result.
    class HTTPCallbacks
      def ready(result)
        result
      end
    end

    # Headless runs of the command line (`--test`, `--eval` with
    # `--no-tick`) and the other switches, handled once each.
    module ProcessARGSV
      def cli_arguments
        @cli_arguments ||= __parse_cli__(@argv, false)
      end

      def parse_cli_argument(argv, name, default = nil)
        parsed = __parse_cli__(argv, true)
        key = name.to_s.tr("-", "_").to_sym
        parsed.key?(key) && !parsed[key].nil? ? parsed[key] : default
      end

      def parse_cli_argument_i(argv, name, default = 0)
        parse_cli_argument(argv, name, default).to_i
      end

      def argv_window_scale(argv)
        parse_cli_argument(argv, :window_scale, "1.0").to_f
      end

      def argv_window_position_x(argv)
        parse_cli_argument(argv, :window_position_x, "-1").to_i
      end

      def argv_window_position_y(argv)
        parse_cli_argument(argv, :window_position_y, "-1").to_i
      end

      # Pieces split at " --"; each piece's first word is the key and the
      # rest, joined by single blanks, its value. The executable's piece
      # gets the key :moonforge with the game directory as value.
      def __parse_cli__(argv, underscore_keys)
        result = {}
        index = 0
        argv.to_s.split(" --").each do |piece|
          words = piece.split(" ")
          first_piece = index == 0
          index += 1
          next if words.empty?
          first = words[0]
          rest = words[1..-1]
          value = rest.empty? ? nil : rest.join(" ")
          if first.include?("moonforge") || (first_piece && !first.start_with?("-"))
            result[:moonforge] = if value.nil? then "mygame" elsif value == "./" then "" else value end
            next
          end
          key = first
          key = key[1..-1] while key.start_with?("-")
          next if key.empty?
          key = key.tr("-", "_") if underscore_keys
          result[key.to_sym] = value
        end
        result
      end

      def process_argsv
        return nil if @argsv_processed
        switches = cli_arguments
        unless @argsv_basic_done
          @argsv_basic_done = true
          if switches.key?(:speed)
            speed = switches[:speed].to_i.abs
            @simulation_speed = speed == 0 ? 1 : speed
          end
          set_window_scale(switches[:scale].to_f) if switches[:scale]
        end
        if switches.key?(:record)
          seed = (switches[:seed] || 100).to_i
          log_info("--record switch found. Recording will be started with a seed value of #{seed} (--seed).")
          @argv_recording = true
          @recording.start_recording(seed)
        elsif switches.key?(:replay)
          return nil if Kernel.global_tick_count < 0
          file = switches[:replay] || "last_replay.txt"
          log_info("--replay switch found. Replay will be started using file [#{file}] (--replay FILENAME) with replay speed [#{@simulation_speed}] (--speed SPEED).")
          @recording.start_replay(file, speed: @simulation_speed)
        elsif switches.key?(:eval)
          return nil unless @load_status == :ready
          __argv_eval__(switches)
        elsif switches.key?(:test)
          return nil unless @load_status == :ready && Kernel.global_tick_count >= 0
          __argv_test__(switches[:test].to_s)
        end
        @argsv_processed = true
        nil
      end

      def __argv_eval__(switches)
        path = switches[:eval].to_s
        log_info("--eval switch found. Executing code inside of #{path} before first tick executes.", "Engine")
        if switches.key?(:"no-tick")
          log_info("--no-tick switch found. Exiting.", "Engine")
          @argv_no_tick = true
        end
        begin
          raise "File does not exist: #{path}" unless @ffi_file.path_exists(path)
          @argv_eval_path = path
          __queue_file__(path, sync: true)
        rescue Exception => e
          log_error(__pretty_exception__(e))
          @argv_eval_path = nil
          __quit_headless__(1) if @argv_no_tick
        end
        nil
      end

      def __argv_test__(path)
        log_info("--test switch found. Executing code inside of =#{path}=.")
        @argv_test = true
        begin
          raise "File does not exist: #{path}" unless @ffi_file.path_exists(path)
          __queue_file__(path, sync: true)
        rescue Exception => e
          log_error(__pretty_exception__(e))
          return __quit_headless__(1)
        end
        return __quit_headless__(1) unless load_completed?(path)
        begin
          @tests.start
          __quit_headless__(@tests.exit_status)
        rescue Exception => e
          log_error(__pretty_exception__(e))
          __quit_headless__(1)
        end
      end

      def __quit_headless__(status)
        set_exit_status(status) if respond_to?(:set_exit_status)
        request_quit
        @no_tick = true
        nil
      end

      # Before every step: a command-line eval with `--no-tick` quits once
      # its file is loaded and its scheduled callbacks have run.
      def tick_argv
        path = @argv_eval_path
        return nil unless path
        return nil unless load_completed?(path)
        unless @argv_no_tick
          @argv_eval_path = nil
          return nil
        end
        last = nil
        @scheduled_callbacks.each_key { |k| last = k if last.nil? || k > last }
        return nil if last && Kernel.tick_count <= last + 1
        @argv_eval_path = nil
        __quit_headless__(0)
      end
    end

    include CBridge
    include Hotload
    include Framerate
    include Draw
    include DrawVR
    include AsyncRequire
    include Autocomplete
    include SaveStateLoadState
    include Notify
    include ProcessARGSV
    include AutoTest if const_defined?(:AutoTest, false)
    include Deprecated
    include DeveloperSupport
    include Window
    include Platform
    include Require
    include A11y

    LOG_LEVELS = [:on, :off].freeze
    ONE_TIME_SOUND_EXTENSIONS = [".wav", ".ogg", ".mp3"].freeze
    EMPTY_ARRAY = [].freeze

    attr_reader :args, :ffi_file, :ffi_misc, :ffi_mrb, :ffi_draw, :console, :recording, :tests,
                :api, :controller_config, :a11y_emulation, :logical_width, :logical_height,
                :orientation, :argv, :binary_path, :y_offset, :vrmode, :load_status,
                :scheduled_callbacks, :sound_queue, :http_requests, :touch_enabled,
                :locale_raw, :locale, :device_size, :simulation_speed, :slowmo_factor,
                :speedup_factor, :rng_seed, :core_globals, :release_mode

    def initialize(platform, production, vrmode, logical_width, logical_height, argv, binary_path,
                   y_offset, orientation, remote_hotload_enabled, a11y_enabled)
      @platform = platform
      @production = production ? true : false
      @vrmode = vrmode.to_i
      @logical_width = logical_width
      @logical_height = logical_height
      @argv = argv.to_s
      @binary_path = binary_path
      @y_offset = y_offset
      @orientation = orientation || :landscape
      @remote_hotload_enabled = remote_hotload_enabled ? true : false
      @a11y_enabled = a11y_enabled ? true : false

      @ffi_file = FFI::File.new
      @ffi_misc = FFI::Misc.new
      @ffi_mrb = FFI::MRB.new
      @ffi_draw = FFI::Draw.new
      $orb = self
      $runtime = self
      $cvars = {} unless $cvars.is_a?(Hash)

      @device_size = @ffi_misc.device_size
      @touch_enabled = @ffi_misc.touch_enabled? ? true : false
      @locale_raw = @ffi_misc.get_locale
      @locale = @locale_raw.nil? || @locale_raw.empty? ? "en" : @locale_raw
      @is_steam_release = false
      __rebuild_platform_tags__
      @release_mode = __release_mode?

      @last_sdl_tick = nil
      @sdl_tick = nil
      @paused = false
      @no_tick = false
      @quit_requested = false
      @reboot_requested = false
      @slowmo_factor = 1
      @speedup_factor = 1
      @simulation_speed = 1
      @slowmo_factor_debounce = 0
      @slowmo_requested = false
      @speedup_requested = false
      @sound_queue = []
      @http_requests = []
      @scheduled_callbacks = {}
      @cursor_shown = true
      @mouse_grab = 0
      @window_fullscreen = __cvar_bool__("renderer.fullscreen")
      @log_level = :on
      @rng_seed = nil
      @server_started = false
      @disable_aggressive_gc = false
      @reset_via_ctrl_r = true
      @inside_tick = false
      @analog_previous = Array.new(16, 0)
      @touch_count = 0
      @last_reset_global_tick = nil
      @reset_next_tick = nil
      @state_kind = :open_entity
      @has_time = Object.const_defined?(:Time)

      init_require
      $wizards = ORB::Wizards.new
      @recording = Recording.new(self)
      @args = Args.new(self)
      @console = Console.new(self)
      @tests = ORB.const_defined?(:Tests, false) ? ORB::Tests.new : nil
      @has_auto_test = respond_to?(:tick_auto_test)
      @controller_config = Controller::Config.new
      @api = Api.new(self)
      @a11y_emulation = A11yEmulation.new
      init_hotload
      reset_framerate_calculation
      __set_globals__
      __reset__
      if @production && !__remote_hotload_file?
        @console.disable
      end
      __move_old_logs__ unless @production
      @load_status = :moonforge_started
      @core_globals = global_variables
      log_warn(Messages::DEV_MODE_WARNING, "Engine") unless @release_mode
    end

    def __set_globals__
      args = @args
      $orb = self
      $runtime = self
      $args = args
      $state = args.state
      $grid = args.grid
      $geometry = Geometry
      $tests = @tests
      $fn = Fn
      $api = @api
      $layout = args.layout
      $log = ORB::Log
      $inputs = args.inputs
      $outputs = args.outputs
      $audio = args.audio
      $console = @console
      $recording = @recording
      $replay = ORB::Replay
      $nil_punning_disabled = false
      $trace_puts = false
      $remote_hotload_client = nil
      nil
    end

    # The state the runtime starts from and returns to on a full reset.
    def __reset__
      Kernel.tick_count = -1
      Kernel.global_tick_count = -1
      @paused = false
      @scheduled_callbacks.clear
      @sound_queue.clear
      nil
    end

    def __release_mode?
      source = @ffi_file.read("forge/top_level.rb")
      source.nil? || source.strip.empty?
    end

    def __remote_hotload_file?
      !@ffi_file.read("metadata/moonforge_remote_hotload").nil?
    end

    def __move_old_logs__
      [["logs/puts.txt", "logs/puts.log"], ["logs/log.txt", "logs/all.log"]].each do |from, to|
        text = @ffi_file.read(from)
        next unless text
        @ffi_file.write_root(to, text)
        begin
          @ffi_file.delete(from)
        rescue Exception
          nil
        end
        log_info("* INFO: #{from} has been moved to #{to}.", "Engine")
      end
    rescue Exception => e
      log_warn("* WARNING: Old log files could not be moved: #{e.message}", "Engine")
    end

    def __cvar_bool__(name)
      value = @ffi_misc.cvar_get(name)
      value == true
    rescue Exception
      false
    end

    def args=(value)
      @args = value
      __set_globals__
    end

    def ready?
      @load_status == :ready
    end

    def paused?
      @paused
    end

    def production?
      @production
    end

    def production
      @production
    end

    def is_vr
      @vrmode > 0
    end

    def audio
      @args.audio
    end

    def state
      @args.state
    end

    def grid
      @args.grid
    end

    def inputs
      @args.inputs
    end

    def outputs
      @args.outputs
    end

    # ---- engine step -----------------------------------------------------

    def __sdl_tick__(sdl_tick)
      last = @last_sdl_tick
      # A clock that went backwards (the engine's millisecond counter wraps
      # after 49 days) restarts the 16 ms spacing instead of stalling.
      @last_sdl_tick = sdl_tick if last.nil? || sdl_tick < last
      @sdl_tick = sdl_tick
      return nil if sdl_tick - @last_sdl_tick < 16
      @last_sdl_tick = sdl_tick
      tick_argv
      return nil if @no_tick
      __sdl_tick__simulation__
      @simulation_speed = @speedup_factor if @speedup_factor > 1
      speed = @simulation_speed
      if speed && speed != 1
        extra = (speed - 1).abs
        while extra > 0
          __sdl_tick__simulation__
          extra -= 1
        end
      end
      update_simulation_audio_state
      nil
    rescue Exception => e
      __handle_exception__(e)
      nil
    end

    def __sdl_tick__simulation__
      args = @args
      $state = args.state
      $grid = args.grid
      $trace_puts = false
      load_main_rb if @load_status == :moonforge_started
      tick_hotload
      tick_auto_test if @has_auto_test
      process_argsv
      calc_wrapper
      if @load_status == :main_rb_load_failed
        @load_status = :main_rb_load_error_shown
        raise @load_exception
      end
      __boot__ if @load_status == :boot
      nil
    end

    def __boot__
      Kernel.tick_count = -1
      Kernel.global_tick_count = -1
      args = @args
      cvar = $cvars["game_metadata.hd_letterbox"]
      args.grid.letterbox = cvar.value ? true : false if cvar
      ORB::Backup.write_boot_time(self, @has_time ? Time.now.to_i : 0)
      @load_status = :ready
      $top_level.boot(args) if $top_level.respond_to?(:boot)
      state = args.state
      if state.is_a?(OpenEntity)
        @state_kind = :open_entity
      elsif state.is_a?(Hash)
        @state_kind = :hash
        args.temp_state = {}
        $nil_punning_disabled = true
        log_info("* INFO - ~args.state~ was initialized to ~Hash~ during ~boot~. ~nil~ punning has been disabled.")
      elsif state.nil? || state == false
        @state_kind = :hash
        args.state = {}
        args.temp_state = {}
        $nil_punning_disabled = true
        log_info("* INFO - ~args.state~ was set to ~#{state.inspect}~ during ~boot~ and has been initialized to ~Hash~. ~nil~ punning has been disabled.")
      else
        @state_kind = :open_entity
        log_info("* INFO - ~args.state~ was set to an object of type ~#{state.class}~ during ~boot~, which is not supported. ~args.state~ has been initialized to ~OpenEntity~ (use a ~Hash~ or leave ~args.state~ as is).")
        args.state = OpenEntity.new
        args.temp_state = OpenEntity.new
      end
      __state_set__(args.state, :tick_count, -1)
      $state = args.state
      inputs = args.inputs
      inputs.last_active = if platform?(:touch)
                             :mouse
                           elsif platform?(:steamdeck)
                             :controller
                           else
                             :keyboard
                           end
      if platform?(:mobile)
        inputs.mouse.x = -1000
        inputs.mouse.y = -1000
      end
      nil
    end

    def __state_set__(state, key, value)
      if state.is_a?(OpenEntity)
        state.as_hash[key] = value
      elsif state.is_a?(Hash)
        state[key] = value
      end
    end

    def calc_wrapper
      skip = false
      if @slowmo_factor > 1
        @slowmo_factor_debounce -= 1
        if @slowmo_factor_debounce > 0
          skip = true
        else
          @slowmo_factor_debounce = @slowmo_factor
        end
      end
      tick_orb_engine_before(skip)
      tick_usr_engine(skip)
      tick_orb_engine_after(skip)
      @simulation_speed = 1 unless @recording.is_replaying? || @recording.is_recording?
      nil
    end

    def __slowmo_holding_frame__?
      @slowmo_factor > 1 && @slowmo_factor_debounce > 0
    end

    def tick_orb_engine_before(skip)
      args = @args
      __resume_after_console__ if @paused && @paused_for_console
      @recording.tick_before(args) unless skip
      clear_draw_passes(skip)
      inputs_tick_before(skip)
      unless @http_requests.empty?
        pending = args.inputs.http_requests
        pending.clear
        pending.concat(@http_requests)
      end
      status = @load_status
      Kernel.global_tick_count += 1 if status == :ready || status == :main_rb_load_error_shown
      @console.tick(args)
      tick_notification
      tick_download_stb_rb
      @controller_config.tick(args)
      state = args.state
      state.__touched__ = false if state.is_a?(OpenEntity)
      args.tick_before
      tick_remote_hotload_client
      if !skip && !@paused && status == :ready
        tick = Kernel.tick_count + 1
        Kernel.tick_count = tick
        __state_set__(state, :tick_count, tick)
        __run_scheduled_callbacks__ unless @scheduled_callbacks.empty?
      end
      nil
    end

    def skip_tick_usr_engine?(skip)
      @paused || skip || @load_status != :ready || @is_reloading || @controller_config.active? ||
        (@argv_eval_path && @argv_no_tick && @quit_requested)
    end

    def tick_usr_engine(skip)
      return nil if skip_tick_usr_engine?(skip)
      $perf_counter_outputs_push_count = 0
      $perf_counter_primitive_is_array = 0
      pending_reset = @reset_next_tick
      if pending_reset
        @reset_next_tick = nil
        reset(**pending_reset)
      end
      @slowmo_requested = false
      @speedup_requested = false
      tick_core
      returned = false
      if @slowmo_factor != 1 && !@slowmo_requested
        @slowmo_factor = 1
        @slowmo_factor_debounce = 0
        returned = true
      end
      if @speedup_factor != 1 && !@speedup_requested
        @speedup_factor = 1
        returned = true
      end
      notify(Messages::RETURNED_TO_60_FPS) if returned
      nil
    end

    def tick_core
      @inside_tick = true
      $top_level.tick(@args) if Kernel.tick_count >= 0
      nil
    ensure
      @inside_tick = false
      NilClassFalseClass.disarm! if NilClassFalseClass.armed?
    end

    def tick_orb_engine_after(skip)
      args = @args
      @api.tick(args)
      outputs = args.outputs
      outputs.target = nil
      targets = args.render_targets
      unless targets.empty?
        sizes = args.render_target_sizes
        targets.each do |name, target|
          sizes[name] = [target.width, target.height] if target.width && target.height
        end
      end
      passes = args.passes
      passes << outputs
      i = 0
      n = passes.length
      while i < n
        passes[i].tick
        i += 1
      end
      __reject_expired_http_requests__ unless @http_requests.empty?
      __ensure_audio_hash__ unless args.audio.is_a?(AudioHash)
      process_one_time_sounds
      args.tick_after
      inputs_tick_after(skip)
      __start_configured_server__ if Kernel.global_tick_count == 0 && !@server_checked
      @recording.tick_after(args) unless skip
      tick_a11y
      grid = args.grid
      args.layout.tick_after(grid.left, grid.bottom, grid.w, grid.h, grid.aspect_ratio_w,
                             grid.aspect_ratio_h, @orientation, grid.origin_name)
      nil
    end

    def tick_remote_hotload_client
      client = $remote_hotload_client
      client.tick(@args) if client && @load_status == :ready
      nil
    end

    def clear_draw_passes(skip = false)
      args = @args
      outputs = args.outputs
      __clear_pass__(outputs, skip)
      passes = args.passes
      unless passes.empty?
        i = 0
        n = passes.length
        while i < n
          pass = passes[i]
          __clear_pass__(pass, skip) unless pass.equal?(outputs)
          i += 1
        end
        passes.clear
      end
      targets = args.render_targets
      args.render_targets = {} unless targets.empty?
      arrays = args.pixel_arrays
      arrays.clear unless arrays.empty?
      nil
    end

    def __clear_pass__(pass, skip)
      pass.target = nil
      pass.width = nil
      pass.height = nil
      return if skip
      pass.clear_non_static
      reserved = pass.reserved
      reserved.clear unless reserved.empty?
    end

    def inputs_tick_before(skip)
      return nil if skip
      inputs = @args.inputs
      keyboard = inputs.keyboard
      keyboard.tick_before
      a11y_inputs_tick_before
      __tick_reset_shortcuts__(keyboard) if @reset_via_ctrl_r && keyboard.key_down.get(:r)
      nil
    end

    def __tick_reset_shortcuts__(keyboard)
      control = keyboard.key_down_or_held?(:control)
      shift = keyboard.key_down_or_held?(:shift)
      meta = keyboard.key_down_or_held?(:meta)
      if (control && shift) || (control && meta) || (meta && shift)
        reboot
      elsif control
        unless @ctrl_r_noted
          @ctrl_r_noted = true
          log_info("* INFO: CTRL+r was pressed: the game will be reset. Call ~$orb.disable_reset_via_ctrl_r~ to turn this off.")
        end
        if @a11y_emulation.enabled
          @a11y_emulation.enabled = false
          @args.inputs.clear
        elsif @console.visible?
          reset
        else
          reset_next_tick
        end
      end
    end

    def inputs_tick_after(skip)
      inputs = @args.inputs
      inputs.keyboard.tick_after unless skip
      return nil if skip
      touch_inputs_tick_after
      inputs.clear_inputs
      if platform?(:mobile) && inputs.touch.empty? && !@a11y_enabled
        inputs.mouse.x = -1000
        inputs.mouse.y = -1000
      end
      nil
    end

    def __resume_after_console__
      return nil if @console.visible?
      return nil if @console.toggled_at == Kernel.global_tick_count
      @paused_for_console = false
      unpause!
    end

    def __ensure_audio_hash__
      args = @args
      old = args.audio
      audio = AudioHash.new(self)
      old.each { |k, v| audio[k] = v } if old.is_a?(Hash)
      args.audio = audio
      $audio = audio
      nil
    end

    def process_one_time_sounds
      passes = @args.passes
      i = 0
      n = passes.length
      while i < n
        sounds = passes[i].sounds
        unless sounds.empty?
          sounds.each { |sound| __queue_one_time_sound__(sound) }
          sounds.clear
        end
        i += 1
      end
      queue = @sound_queue
      return nil if queue.empty?
      audio = @args.audio
      now = @has_time ? Time.now.to_f : @sdl_tick.to_i / 1000.0
      queue.each_with_index do |sound, index|
        key = :"ONE_TIME_SOUND_#{sound.object_id}_#{now}_#{index}"
        audio[key] ||= { input: sound[:input], gain: sound[:gain].to_f, playtime: 0.0 }
      end
      queue.clear
      nil
    end

    def __queue_one_time_sound__(sound)
      path = sound.path.to_s
      ext = path.length >= 4 ? path[-4..-1].downcase : ""
      return nil unless ONE_TIME_SOUND_EXTENSIONS.include?(ext)
      if ext != ".wav" && !@one_time_sound_warned
        @one_time_sound_warned = true
        log_important("* IMPORTANT: Sounds pushed to ~args.outputs.sounds~ play once, .ogg and .mp3 files included. " \
                      "To loop a sound, add it to ~args.audio~ with ~looping: true~.")
      end
      @sound_queue << { input: path, gain: sound.gain.nil? ? 1.0 : sound.gain }
      nil
    end

    def __run_scheduled_callbacks__
      tick = Kernel.tick_count
      callbacks = @scheduled_callbacks[tick]
      if callbacks
        args = @args
        callbacks.each { |callback| callback.arity == 1 ? callback.call(args) : callback.call }
      end
      @scheduled_callbacks.delete_if { |at, _| at <= tick }
      nil
    end

    def __reject_expired_http_requests__
      now = Kernel.global_tick_count
      @http_requests.delete_if do |request|
        if request.responded?
          true
        elsif request.expires_at <= now
          request.reject
          true
        else
          false
        end
      end
    end

    def __start_configured_server__
      @server_checked = true
      return nil unless __cvar_bool__("webserver.enabled")
      port = @ffi_misc.cvar_get("webserver.port") || 9001
      start_server!(port: port)
    end

    # ---- engine contract -------------------------------------------------

    def new_http_request(remote_address, method, uri, headers, body, handle)
      @http_requests << HTTPRequest.new(remote_address, method, uri, headers, body, handle)
      nil
    end

    def new_log_entry(level, _ticks, _subsystem, text)
      @console.add_text(text, level)
    end

    def __tick_count__
      Kernel.tick_count
    end

    def __global_tick_count__
      Kernel.global_tick_count
    end

    def quit_requested?
      @quit_requested
    end

    def reboot_requested
      @reboot_requested
    end

    def quit
      $top_level.shutdown(@args) if $top_level.respond_to?(:shutdown)
      nil
    rescue Exception => e
      log_error(__pretty_exception__(e))
      nil
    end

    def quit!
      if @argv_recording && @recording.is_recording?
        now = @has_time ? Time.now.to_i : 0
        @recording.stop_recording("replay_#{now}.txt")
      end
      @console.save_history
      @http_requests.each { |request| request.reject unless request.responded? }
      @http_requests.clear
      nil
    rescue Exception => e
      log_error(__pretty_exception__(e))
      nil
    end

    def __reboot__(mouse_x, mouse_y, relative_x, relative_y)
      schedule_callback(0) do
        @args.grid.origin_bottom_left!
        mouse_move_relative(mouse_x, mouse_y, relative_x, relative_y)
      end
      nil
    end

    # HD copies of the game's sprites (asked by the engine at host setup
    # when game_metadata.hd is on).
    def get_texture_atlas(sprites_directory)
      TextureAtlas.get_texture_atlas(sprites_directory, ffi_file: @ffi_file, cli_arguments: cli_arguments)
    end

    # ---- control ---------------------------------------------------------

    def pause!
      @paused = true
      nil
    end

    def unpause!
      clear_draw_passes
      @paused = false
      @paused_for_console = false
      @no_tick = false
      nil
    end

    def request_quit
      log_info("* INFO: Quit requested (#{Kernel.global_tick_count}).", "Engine")
      @quit_requested = true
      nil
    end

    def reboot
      return nil if @production || Kernel.global_tick_count == -1
      @reboot_requested = true
      nil
    end

    def slowmo!(factor = 2)
      factor = factor.to_i
      factor = 1 if factor < 1
      @slowmo_requested = true
      @slowmo_factor = factor
      nil
    end

    def speedup!(factor = 2)
      factor = factor.to_i
      factor = 1 if factor < 1
      @speedup_requested = true
      @speedup_factor = factor
      nil
    end

    def reset(seed: nil, include_sprites: true)
      global = Kernel.global_tick_count
      return nil if @last_reset_global_tick == global
      @last_reset_global_tick = global
      args = @args
      @rng_seed = seed if seed
      if $top_level.respond_to?(:reset)
        game_reset = $top_level.method(:reset)
        game_reset.arity == 0 ? $top_level.reset : $top_level.reset(args)
      end
      ORB::Entity.strict_entities.clear
      Kernel.tick_count = 0
      clear_draw_passes
      args.state = @state_kind == :hash ? {} : OpenEntity.new
      args.temp_state = @state_kind == :hash ? {} : OpenEntity.new
      $state = args.state
      args.reset
      @paused = false
      @paused_for_console = false
      show_cursor
      @console.hide
      srand(@rng_seed) if @rng_seed && respond_to?(:srand, true)
      @scheduled_callbacks.clear
      args.inputs.keyboard.clear
      args.grid.origin_bottom_left!
      reset_framerate_calculation
      nil
    end

    def reset_next_tick(seed: nil, include_sprites: true)
      @reset_next_tick = { seed: seed, include_sprites: include_sprites }
      nil
    end

    # ---- failure handling ------------------------------------------------

    def __handle_exception__(e)
      if $top_level.respond_to?(:unhandled_exception)
        $top_level.unhandled_exception(@args, e)
      else
        unhandled_exception(e)
      end
    rescue Exception => inner
      __log_last_resort__(e, inner)
    end

    def unhandled_exception(e)
      @exception_global_tick = Kernel.global_tick_count
      @inside_tick = false
      pretty = __pretty_exception__(e)
      key = pretty
      if key == @last_exception_key
        __after_exception__
        return nil
      end
      @last_exception_key = key
      tick = Kernel.tick_count
      file = "logs/exceptions/game_state_#{tick}.txt"
      log_error(pretty)
      log_info("* INFO - Game state and exception will be written to #{file} and #{Messages::CURRENT_EXCEPTION_FILE}.")
      log_info("** Kernel.tick_count: #{tick}\n** Kernel.global_tick_count: #{Kernel.global_tick_count}")
      report = "#{pretty}\n\nGame State:\n#{__serialize_args_text__}\n"
      begin
        write_file_root(file, report)
        write_file_root(Messages::CURRENT_EXCEPTION_FILE, report)
      rescue Exception => write_error
        log_error("* ERROR: The exception report could not be written: #{write_error.message}")
      end
      __after_exception__
      nil
    end

    def __after_exception__
      if @no_tick || @argv_test || @argv_no_tick
        __quit_headless__(1) unless @quit_requested
      else
        pause!
        @paused_for_console = true
        @console.show(:exception)
      end
    end

    def __pretty_exception__(e)
      text = "* EXCEPTION: #{e.message}\n** Class: #{e.class}"
      backtrace = e.backtrace
      if backtrace && !backtrace.empty?
        text = "#{text}\n** Backtrace:"
        backtrace.each { |line| text = "#{text}\n*** #{line}" }
      end
      text
    end

    def __log_last_resort__(original, inner)
      @ffi_misc.log(nil, 4, "* EXCEPTION: #{original.class}: #{original.message}\n" \
                            "* EXCEPTION while handling it: #{inner.class}: #{inner.message}")
      pause!
    rescue Exception
      nil
    end

    # ---- files -----------------------------------------------------------

    def read_file(file_name)
      @ffi_file.read(file_name)
    rescue Exception => e
      raise "* ERROR:\n~$orb.read_file~ for #{file_name} failed.\n#{e.message}\n"
    end

    def write_file(file_name, text)
      @ffi_file.write(file_name, text.to_s)
    rescue Exception => e
      raise "* ERROR:\n~$orb.write_file~ for #{file_name} failed.\n#{e.message}\n"
    end

    def append_file(file_name, text)
      @ffi_file.append(file_name, text.to_s)
    rescue Exception => e
      raise "* ERROR:\n~$orb.append_file~ for #{file_name} failed.\n#{e.message}\n"
    end

    def write_file_root(file_name, text)
      @ffi_file.write_root(file_name, text.to_s)
    end

    def append_file_root(file_name, text)
      @ffi_file.append_root(file_name, text.to_s)
    end

    def get_relative_game_dir
      dir = (@ffi_file.get_game_dir || "").to_s.strip
      dir = dir.gsub("//", "/") while dir.include?("//")
      base = (@ffi_file.get_base_dir || "").to_s.strip
      dir = dir.gsub(base, "") unless base.empty?
      dir = dir[2..-1] if dir.start_with?("./") || dir.start_with?(".\\")
      dir
    end

    # A game path as seen from the engine's directory (where listings
    # through the engine's mount and deletions happen); nil when the game
    # directory lies outside it.
    def __engine_relative_path__(path)
      relative = get_relative_game_dir
      return path.to_s if relative.empty?
      return nil if relative.start_with?("/")
      joined = "#{relative}/#{path}"
      joined = joined.gsub("//", "/") while joined.include?("//")
      joined
    end

    def list_files(dir)
      return @ffi_file.list(dir) if platform?(:mobile)
      joined = __engine_relative_path__(dir)
      @ffi_file.list(joined || dir.to_s)
    end

    def stat_file(path)
      @ffi_file.stat(path)
    end

    def delete_file(path)
      return nil unless @ffi_file.stat(path)
      target = platform?(:mobile) ? path : __engine_relative_path__(path)
      unless target
        log_error("* ERROR: ~$orb.delete_file~ cannot delete #{path}: the game directory is outside the engine's write directory.")
        return nil
      end
      @ffi_file.delete(target)
    end

    def delete_file_if_exist(path)
      delete_file(path)
    end

    def delete_file_if_exist?(path)
      delete_file(path)
      true
    end

    def load_image(file_name)
      @ffi_file.load_image(file_name)
    end

    def get_pixels(path)
      image = @ffi_file.load_image(path)
      return nil unless image
      { pixels: image[0], w: image[1], h: image[2] }
    end

    def get_base_dir
      dir = @ffi_file.get_base_dir
      dir.nil? ? "" : dir.strip
    end

    def get_game_dir
      dir = @ffi_file.get_game_dir
      dir.nil? ? "" : dir.strip
    end

    def get_game_id
      text = @ffi_file.read("metadata/game_metadata.txt") || ""
      line = text.split("\n").find { |l| l.start_with?("gameid=") } || "gameid=hello-SDL"
      value = line.split("=", 2)[1]
      value.nil? ? "" : value.strip
    end

    # ---- parsing and HTTP ------------------------------------------------

    def __misc_binding__(name)
      return @ffi_misc if @ffi_misc.respond_to?(name)
      raise "* ERROR: ~$orb.#{name}~ is not available in this build."
    end

    def parse_json(jsonstr)
      __misc_binding__(:parse_json).parse_json(jsonstr)
    end

    def parse_json_file(fname)
      __misc_binding__(:parse_json_file).parse_json_file(fname)
    end

    def parse_xml(xmlstr, stripcontent = true)
      __misc_binding__(:parse_xml).parse_xml(xmlstr, stripcontent)
    end

    def parse_xml_file(fname, stripcontent = true)
      __misc_binding__(:parse_xml_file).parse_xml_file(fname, stripcontent)
    end

    def __http__(name, url, extra_headers, *extra)
      return nil unless @ffi_misc.respond_to?(name)
      callbacks = HTTPCallbacks.new
      callbacks.ready(@ffi_misc.__send__(name, callbacks, url, extra_headers, *extra))
    end

    def http_get(url, extra_headers = nil)
      __http__(:http_get, url, extra_headers)
    end

    def http_head(url, extra_headers = nil)
      __http__(:http_head, url, extra_headers)
    end

    def http_post(url, form_fields = nil, extra_headers = nil)
      fields = []
      (form_fields || {}).each do |k, v|
        fields << k.to_s
        fields << v.to_s
      end
      __http__(:http_post, url, extra_headers, fields)
    end

    def http_post_body(url, body, extra_headers = nil)
      __http__(:http_post_body, url, extra_headers, body)
    end

    def http_put(url, fname, extra_headers = nil)
      __http__(:http_put, url, extra_headers, fname)
    end

    # ---- logging ---------------------------------------------------------

    def __log__(subsystem, level, text)
      text = text.to_s
      text = text.delete(ORB::Log::NUL) if text.include?(ORB::Log::NUL)
      @ffi_misc.log(subsystem, level, text)
      nil
    end

    def log_spam(text, subsystem = nil)
      __log__(subsystem, 0, text)
    end

    def log_debug(text, subsystem = nil)
      __log__(subsystem, 1, text)
    end

    def log_info(text, subsystem = nil)
      __log__(subsystem, 2, text)
    end

    def log_warn(text, subsystem = nil)
      __log__(subsystem, 3, text)
    end

    def log_error(text, subsystem = nil)
      __log__(subsystem, 4, text)
    end

    def log_unfiltered(text, subsystem = nil)
      __log__(subsystem, 2147483646, text)
    end

    def log_important(text, subsystem = nil)
      __log__(subsystem, 2, text)
    end

    def log(obj, sender = nil, subsystem = nil)
      if sender.nil? || (sender == ORB::Log && log_level == :on)
        log_info(obj, subsystem)
      end
      nil
    end

    def log_level
      @log_level || :on
    end

    def log_levels
      LOG_LEVELS
    end

    def log_level=(value)
      unless LOG_LEVELS.include?(value)
        @log_level = :on
        return
      end
      old = log_level
      return if value == old
      log_important("* IMPORTANT: Log level has been changed to: [#{value}] from [#{old}].")
      @log_level = value
    end

    # ---- scheduling ------------------------------------------------------

    def schedule_callback(tick_count, &callback)
      existing = @scheduled_callbacks[tick_count]
      if existing.nil?
        @scheduled_callbacks[tick_count] = [callback]
      elsif existing.is_a?(Array)
        existing << callback
      else
        @scheduled_callbacks[tick_count] = [existing, callback]
      end
      nil
    end

    def on_tick_count(tick_count, &callback)
      current = Kernel.tick_count
      if tick_count <= current
        log_info("* INFO - ~on_tick_count~ has been ignored.\n" \
                 "You invoked ~on_tick_count~ with #{tick_count} which has already passed (Kernel.tick_count: #{current}).\n" \
                 "** Backtrace\n#{caller.join("\n")}")
        return nil
      end
      schedule_callback(tick_count, &callback)
    end

    # ---- miscellaneous services ------------------------------------------

    def register_cvar(name, desc, type, deflt)
      @ffi_misc.cvar_register(name, desc, type.to_s, deflt.to_s)
    end

    def seed
      @rng_seed
    end

    def set_rng(value)
      @rng_seed = value unless value.nil?
      srand(@rng_seed) if @rng_seed
      log_debug("RNG seed has been set to #{@rng_seed}.", "Engine")
      nil
    end

    def queue_sound(path, gain)
      @sound_queue << { input: path, gain: gain }
      nil
    end

    def toast(id, message)
      @console.toast(id, message)
    end

    def enable_console
      @console.enable
      nil
    end

    def disable_console
      @console.disable
      @reset_via_ctrl_r = false
      nil
    end

    def show_console(reason = nil)
      @console.show(reason)
    end

    def hide_console
      @console.hide
    end

    def enable_reset_via_ctrl_r
      @reset_via_ctrl_r = true
      nil
    end

    def disable_reset_via_ctrl_r
      @reset_via_ctrl_r = false
      nil
    end

    def request_quit_fatal(reason)
      @ffi_misc.request_quit_fatal(reason)
    end

    def get_thermal_state
      @ffi_misc.get_thermal_state
    end

    def disable_aggressive_gc!
      @disable_aggressive_gc = true
      nil
    end

    def create_uuid
      @ffi_misc.create_uuid
    end

    # The development web server; started once, after the runtime is ready.
    def start_server!(port:, enable_in_prod: false)
      return nil if @server_started
      return nil if @production && !enable_in_prod
      return nil unless @ffi_misc.respond_to?(:httpserver_init)
      @server_started = true
      @ffi_misc.httpserver_init(port.to_i)
      nil
    end

    # Labels carry their own font; there is no runtime-wide one.
    def text_font
      nil
    end

    # [w, h] of a text. With size_px the text is measured at ten times that
    # size and the result divided by 10, which keeps a tenth of a pixel of
    # the size (size enumerations go in steps of two pixels). A nil font
    # measures with the fallback font.
    def calcstringbox(str, size_enum_arg = 0, font_arg = "font.ttf", size_enum: nil, size_px: nil, font: nil)
      text = str.nil? ? "" : str.to_s
      font ||= font_arg
      misc = __misc_binding__(:calcstringbox)
      if size_px
        enum = (size_px * 10 - 22).idiv(2).to_f
        w, h = font ? misc.calcstringbox(text, enum, font.to_s) : misc.calcstringbox(text, enum)
        return [w / 10, h / 10]
      end
      enum = (size_enum || size_enum_arg).to_f
      font ? misc.calcstringbox(text, enum, font.to_s) : misc.calcstringbox(text, enum)
    end

    def calcstringbox_h(*args, **kw)
      w, h = calcstringbox(*args, **kw)
      { w: w, h: h }
    end
  end
end
