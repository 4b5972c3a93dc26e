# ORB::Runtime::Require: the reload protocol. The runtime decides what to
# load (game `require`, hot reload, the main file); the engine loads it.
# Before the game is ready a file is loaded before `require` returns,
# afterwards it is queued and handed to the engine at the next step.
module ORB
  class Runtime
    module Require
      MAIN_FILE = "app/main.rb".freeze
      MAIN_FILE_COMPILED = "app/main.rbc".freeze
      HISTORY_LIMIT = 20

      def init_require
        @reload_list = []
        @reload_list_history = {}
        @required_files = []
        @require_stack = []
        @reload_batches = []
        @reload_depth = 0
        @is_reloading = false
        @exception_occurred = false
        @empty_reload_list = []
      end

      def reload_list_history
        @reload_list_history
      end

      def required_files
        @required_files
      end

      def require(path)
        path = __require_path__(path)
        return false if @required_files.include?(path) && !__load_failed__?(path)
        __queue_file__(path)
        true
      end

      def __require_path__(path)
        path = path.to_s
        path = "#{path}.rb" unless path.end_with?(".rb") || path.end_with?(".rbc")
        path
      end

      # Reads and syntax-checks a file, then queues it (or loads it at once
      # before the game is ready).
      def __queue_file__(path, sync: false)
        load_path = path
        source = @ffi_file.read(path)
        if source.nil?
          twin = path.end_with?(".rb") ? "#{path}c" : nil
          unless twin && @ffi_file.path_exists(twin)
            raise LoadError, "cannot load such file -- #{path}"
          end
          load_path = twin
        elsif !path.end_with?(".rbc")
          result = @ffi_mrb.parse(source)
          unless result == "Syntax OK"
            pause!
            @console.show(:exception_on_load)
            raise LoadError, "** Failed to load/reload #{path}.\n#{result}"
          end
        end
        @required_files << path unless @required_files.include?(path)
        watch_file(path)
        sync ? __load_now__(load_path) : add_to_require_queue(load_path)
      end

      def add_to_require_queue(path)
        __history_event__(path, :reload_queued)
        log_info("** INFO: =#{path}= queued to load via ~require~. (#{Kernel.global_tick_count}, #{Kernel.tick_count})", "Engine")
        if @load_status == :ready
          @reload_list << path unless @reload_list.include?(path)
        else
          __require_sync__(path)
        end
        nil
      end

      def __load_now__(path)
        __history_event__(path, :reload_queued)
        log_info("** INFO: =#{path}= queued to load via ~require~. (#{Kernel.global_tick_count}, #{Kernel.tick_count})", "Engine")
        __require_sync__(path)
      end

      def __require_sync__(path)
        @require_stack.push(path)
        @sync_pending = path
        begin
          __run_engine_reload__
        ensure
          @sync_pending = nil
          @require_stack.pop
        end
        nil
      end

      def __process_reload_queue__
        __run_engine_reload__
      end

      def __run_engine_reload__
        reload_requested_ruby_files_synchronously
      rescue Exception => e
        @exception_occurred = true
        failed = @last_loaded_path
        __history_event__(failed, :reload_failed) if failed
        pause!
        raise e
      end

      # Called by the engine: the paths to load now. The engine takes them
      # off this Array one by one; what it leaves (after a file raised) is
      # queued again by `reload_complete`.
      def get_ruby_reload_list
        pending = @sync_pending
        if pending
          @sync_pending = nil
          list = [pending]
        elsif !@reload_list.empty?
          list = @reload_list.dup
          @reload_list.clear
        else
          @reload_batches.push(nil)
          return @empty_reload_list
        end
        list.each { |path| __history_event__(path, :processing) }
        @reload_batches.push([list, list.dup])
        @reload_depth += 1
        @is_reloading = true
        @exception_occurred = false
        list
      end

      # Called by the engine once it has loaded the paths of the last list.
      def reload_complete
        batch = @reload_batches.pop
        return nil unless batch
        list, paths = batch
        @reload_depth -= 1
        @is_reloading = @reload_depth > 0
        loaded = paths[0, paths.length - list.length]
        unless list.empty?
          list.reverse_each do |path|
            @reload_list.unshift(path) unless @reload_list.include?(path)
            __history_event__(path, :reload_queued)
          end
          list.clear
        end
        @last_loaded_path = loaded.last
        unless @exception_occurred
          unpause! if @paused
          @console.hide if @console.show_reason == :exception || @console.show_reason == :exception_on_load
          @last_exception_key = nil
        end
        loaded.each do |path|
          __history_event__(path, :reload_completed)
          log_info("* INFO: =#{path}= reloaded. (#{Kernel.global_tick_count}, #{Kernel.tick_count})")
        end
        @args.layout.reset
        reset_framerate_calculation
        process_load_status
        nil
      end

      def process_load_status
        return nil if @load_status == :ready || @load_status == :boot
        return nil unless @reload_list.empty? && @reload_depth == 0
        return nil unless load_completed?(MAIN_FILE) || load_completed?(MAIN_FILE_COMPILED)
        __refresh_watched_mtimes__
        @load_status = :boot
        nil
      end

      def load_completed?(path)
        events = @reload_list_history[path]
        return false unless events
        i = events.length - 1
        while i >= 0
          event = events[i][0]
          return true if event == :reload_completed
          return false if event == :reload_failed
          i -= 1
        end
        false
      end

      def __load_failed__?(path)
        events = @reload_list_history[path]
        events ? events.last[0] == :reload_failed : false
      end

      def __history_event__(path, event)
        events = (@reload_list_history[path] ||= [])
        events << [event, Kernel.global_tick_count]
        events.shift if events.length > HISTORY_LIMIT
        nil
      end

      def load_main_rb
        path = if @ffi_file.path_exists(MAIN_FILE)
                 MAIN_FILE
               elsif @ffi_file.path_exists(MAIN_FILE_COMPILED)
                 MAIN_FILE_COMPILED
               end
        unless path
          @load_status = :main_rb_load_failed
          @load_exception = LoadError.new("app/main.rb not found.")
          return nil
        end
        @load_status = :main_rb_queued
        begin
          __queue_file__(path, sync: true)
        rescue Exception => e
          @load_status = :main_rb_load_failed
          @load_exception = e
        end
        nil
      end
    end
  end
end
