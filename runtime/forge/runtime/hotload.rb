# ORB::Runtime::Hotload: reloads watched source files when their
# modification time changes. Once a second (60 simulation steps at the
# current frame rate) every watched file's time is compared with the last
# one seen; queued reloads are handed to the engine every step.
module ORB
  class Runtime
    module Hotload
      RELEASE_WATCHED_FILES = ["repl.rb", "app/main.rb", "app/repl.rb", "app/tests.rb",
                               "app/test.rb", "app/stdin.rb"].freeze

      def init_hotload
        @hotload_debounce = 0
        @watched_files = {}
        RELEASE_WATCHED_FILES.each { |path| @watched_files[path] = @ffi_file.mtime(path) }
        __watch_runtime_sources__ unless @release_mode
        nil
      end

      def watched_files
        @watched_files.keys
      end

      def watch_file(path)
        @watched_files[path] = @ffi_file.mtime(path) unless @watched_files.key?(path)
        nil
      end

      def __refresh_watched_mtimes__
        @watched_files.each_key { |path| @watched_files[path] = @ffi_file.mtime(path) }
        nil
      end

      def tick_hotload
        __process_reload_queue__ unless @reload_list.empty?
        return nil unless Kernel.tick_count > 0 || @paused
        framerate = current_framerate
        step = framerate > 0 ? 60.idiv(framerate) : 1
        step = 1 if step < 1
        @hotload_debounce += step
        return nil if @hotload_debounce < 60
        @hotload_debounce = 0
        __check_watched_files__
      end

      def __check_watched_files__
        changed = nil
        @watched_files.each do |path, last|
          now = @ffi_file.mtime(path)
          next if now == last
          @watched_files[path] = now
          next if now < 0
          (changed ||= []) << path
        end
        changed.each { |path| __reload_changed_file__(path) } if changed
        nil
      end

      def __reload_changed_file__(path)
        failed_state = @load_status == :main_rb_load_failed || @load_status == :main_rb_load_error_shown
        @load_status = :moonforge_started if failed_state
        return nil if failed_state && (path == "app/main.rb" || path == "app/main.rbc")
        __queue_file__(path)
      rescue Exception => e
        log_error(e.message)
        pause!
        @console.show(:exception_on_load)
        nil
      end

      def __watch_runtime_sources__
        ["forge", "forge/runtime"].each do |dir|
          entries = @ffi_file.list(dir) || []
          entries.each do |name|
            watch_file("#{dir}/#{name}") if name.end_with?(".rb")
          end
        end
      end
    end
  end
end
