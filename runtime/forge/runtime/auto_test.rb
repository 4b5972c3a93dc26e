# ORB::Runtime::AutoTest: in development, runs the game's tests whenever a
# test file (a name ending in "tests.rb") changes. Once a second it picks up
# new test files under "tests/", loads them and has hot reload watch them;
# a change seen on one check runs the tests on the next, after hot reload
# has loaded the new version. Uses the runtime's reload protocol, its file
# binding and its test runner.
module ORB
  class Runtime
    module AutoTest
      AUTO_TEST_SUFFIX = "tests.rb".freeze
      AUTO_TEST_DIR = "tests".freeze
      AUTO_TEST_INTERVAL = 60

      def tick_auto_test
        return nil unless __auto_test_allowed__?
        return nil unless Kernel.global_tick_count % AUTO_TEST_INTERVAL == 0
        @auto_test_files ||= {}
        unless @auto_test_initialized
          return nil if Kernel.global_tick_count < AUTO_TEST_INTERVAL
          __auto_test_initialize__
        end
        __auto_test_discover__
        __auto_test_check__
      end

      def auto_test_run
        @auto_test_files ||= {}
        log_info("* INFO: ~auto_test_run~ invoked (#{Kernel.global_tick_count}).")
        if @auto_test_files.empty?
          log_info("** No test files are watched.")
        else
          log_info(@auto_test_files.keys.map { |path| "** #{path}" }.join("\n"))
        end
        unless __auto_test_allowed__?
          log_info("* INFO: Tests run only in development once the game has loaded.")
          return nil
        end
        __auto_test_run_tests__
      end

      def auto_test_files
        @auto_test_files ||= {}
      end

      def __auto_test_allowed__?
        !@production && @load_status == :ready && @tests
      end

      def __auto_test_initialize__
        @auto_test_initialized = true
        @changes_detected = false
        required_files.each do |path|
          next unless path.end_with?(AUTO_TEST_SUFFIX)
          __auto_test_add__(path, false) unless @auto_test_files.key?(path)
        end
        nil
      end

      def __auto_test_discover__
        names = list_files(AUTO_TEST_DIR) || @ffi_file.list(AUTO_TEST_DIR)
        return nil unless names
        names.each do |name|
          next unless name.end_with?(AUTO_TEST_SUFFIX)
          path = name.include?("/") ? name : "#{AUTO_TEST_DIR}/#{name}"
          next if @auto_test_files.key?(path) || required_files.include?(path)
          __auto_test_add__(path, true)
        end
        nil
      end

      # A file that fails to load is still remembered and watched, so fixing
      # it is picked up like any other change.
      def __auto_test_add__(path, load)
        log_info("* INFO: Test =#{path}= found and added to hotload file list.")
        if load
          begin
            require(path)
          rescue Exception => e
            log_error(e.message)
          end
        end
        watch_file(path)
        mtime = @ffi_file.mtime(path)
        @auto_test_files[path] = { current: mtime, last: mtime }
        nil
      end

      # A change that arrives while the tests of an earlier one run stays
      # marked, so it gets a run of its own.
      def __auto_test_check__
        changed = false
        @auto_test_files.each do |path, times|
          times[:current] = @ffi_file.mtime(path)
          changed = true if times[:current] != times[:last]
        end
        if @changes_detected && !@is_reloading
          @changes_detected = changed
          __auto_test_run_tests__
        else
          @changes_detected ||= changed
        end
        @auto_test_files.each_value { |times| times[:last] = times[:current] }
        nil
      end

      def __auto_test_run_tests__
        @tests.start
        @tests.clear_summary
        nil
      end
    end
  end
end
