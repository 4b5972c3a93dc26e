# The test runner: finds the game's top-level test methods (named test_...,
# or focus_test_... to run only those), calls each with a fresh args object
# and an ORB::Assert, and logs the results and a summary.
#
# A run never disturbs the game it runs inside: the runtime's args, the
# globals that point into it ($args, $state ...), the entity id counter and
# the tick counters are put back after every test.
# Depends on ORB::Assert, ORB::Args, ORB::Entity and the runtime in $orb.

module ORB
  class Tests
    RUNNER_FILE = "forge/tests.rb".freeze

    attr_accessor :passed, :failed, :inconclusive

    # Tests whose method cannot take (args, assert); they count as neither
    # passed nor failed, but they fail the run.
    attr_reader :invalid

    def initialize
      @passed = []
      @failed = []
      @inconclusive = []
      @invalid = []
      @running = false
      @inconclusive_note_shown = false
    end

    def running?
      @running
    end

    def start
      log "* TEST: orb.test.start has been invoked."
      names = test_methods
      if names.empty?
        log_no_tests_found
        print_summary
        return
      end
      @running = true
      @inconclusive_note_shown = false
      begin
        names.each { |m| run_test m }
      ensure
        @running = false
      end
      print_summary
    end

    def run_test m
      saved = save_runtime_state
      begin
        $serialize_state_serialization_too_large = false
        reset_entity_ids
        args = fresh_args
        install_args args
        assert = ORB::Assert.new
        log "** Running: #{m}"
        target = test_target
        unless accepts_args_and_assert? target, m
          @invalid << { m: m }
          log_test_signature_incorrect m
          return
        end
        begin
          target.send m, args, assert
          if assert.assertion_performed
            @passed << { m: m }
            log "Passed."
          else
            @inconclusive << { m: m }
            log "Inconclusive."
          end
        rescue Exception => e
          if e.message.to_s.start_with?("'#{m}': wrong number of arguments")
            @invalid << { m: m }
            log_test_signature_incorrect m
          else
            @failed << { m: m, e: e }
            log "Failed."
          end
        end
      ensure
        restore_runtime_state saved
      end
    end

    def print_summary
      log "** Summary"
      log "*** Passed"
      log "#{@passed.length} test(s) passed."
      @passed.each { |h| log "**** :#{h[:m]}" }

      log "*** Inconclusive"
      if @inconclusive.length > 0 && !@inconclusive_note_shown
        @inconclusive_note_shown = true
        log "NOTE FOR INCONCLUSIVE TESTS: No assertion was performed in the test.\n" \
            "Add assert.ok! at the end of the test if you are using your own assertions."
      end
      log "#{@inconclusive.length} test(s) inconclusive."
      @inconclusive.each { |h| log "**** :#{h[:m]}" }

      if @invalid.length > 0
        log "*** Invalid"
        log "#{@invalid.length} test(s) with an invalid method signature."
        @invalid.each { |h| log "**** :#{h[:m]}" }
      end

      log "*** Failed"
      log "#{@failed.length} test(s) failed."
      @failed.each do |h|
        log "**** Test name: :#{h[:m]}\n#{failure_text h[:e]}"
      end
    end

    def clear_summary
      @passed.clear
      @failed.clear
      @inconclusive.clear
      @invalid.clear
    end

    # 0 when nothing failed and every test had a valid signature (an
    # inconclusive test or a file without tests does not fail the run), 1
    # otherwise.
    def exit_status
      (@failed.empty? && @invalid.empty?) ? 0 : 1
    end

    def test_methods
      all = Object.methods.map { |m| m.to_s }
      focused = all.select { |m| m.start_with? "focus_test_" }
      names = focused.empty? ? all.select { |m| m.start_with? "test_" } : focused
      names.map { |m| m.to_sym }
    end

    def inspect
      "#<ORB::Tests passed: #{@passed.length}, inconclusive: #{@inconclusive.length}, " \
        "failed: #{@failed.length}, invalid: #{@invalid.length}>"
    end

    def to_s
      inspect
    end

    private

    def log text
      puts text
    end

    def test_target
      $top_level || self
    end

    # Checks the parameters up front: an arity error raised deeper inside the
    # test is a failure of the test, not of its signature.
    def accepts_args_and_assert? target, m
      meth = target.method(m)
      if meth.respond_to?(:parameters)
        required = 0
        optional = 0
        rest = false
        meth.parameters.each do |kind, _|
          case kind
          when :req then required += 1
          when :opt then optional += 1
          when :rest then rest = true
          end
        end
        required <= 2 && (rest || required + optional >= 2)
      else
        a = meth.arity
        a == 2 || (a < 0 && -a - 1 <= 2)
      end
    rescue NameError
      false
    end

    # The backtrace ends where the runner called the test.
    def failure_text e
      text = e.message.to_s.gsub("* ERROR:", "").strip
      trace = e.backtrace || []
      own = trace.take_while { |line| !line.start_with?(RUNNER_FILE) }
      trace = own unless own.empty?
      trace.empty? ? text : "#{text}\n#{trace.join("\n")}"
    end

    def runtime
      $orb || $runtime
    end

    # The args a test gets are built as the runtime builds its own.
    def fresh_args
      ORB::Args.new runtime
    end

    # The globals that name parts of args follow the test's args.
    def install_args args
      r = runtime
      r.instance_variable_set :@args, args if r
      $args = args
      $state = args.state
      $grid = args.grid
      $layout = args.layout
      $inputs = args.inputs
      $outputs = args.outputs
      $audio = args.audio
    end

    def save_runtime_state
      r = runtime
      [r ? r.instance_variable_get(:@args) : nil,
       $args, $state, $grid, $layout, $inputs, $outputs, $audio,
       entity_id_counter, Kernel.tick_count, Kernel.global_tick_count]
    end

    def restore_runtime_state saved
      r = runtime
      r.instance_variable_set :@args, saved[0] if r
      $args, $state, $grid, $layout, $inputs, $outputs, $audio = saved[1, 7]
      restore_entity_id_counter saved[8]
      Kernel.tick_count = saved[9]
      Kernel.global_tick_count = saved[10]
    end

    def reset_entity_ids
      ORB::Entity.__reset_id__!
    end

    def entity_id_counter
      ORB::Entity.instance_variable_get :@id
    end

    def restore_entity_id_counter value
      ORB::Entity.instance_variable_set :@id, value
    end

    def log_no_tests_found
      log "No tests were found. To create a test. Define a method\n" \
          "that begins with test_. For example:\n" \
          "#+begin_src\n" \
          "  def test_game_over args, assert\n" \
          "    assert.equal! args.state.lives, 3\n" \
          "  end\n" \
          "#+end_src"
    end

    def log_test_signature_incorrect m
      log "TEST METHOD INVALID:\n" \
          "I found a test method called :#{m}. But it needs to have\n" \
          "the following method signature:\n" \
          "#+begin_src\n" \
          "  def #{m} args, assert\n" \
          "\n" \
          "  end\n" \
          "#+end_src\n" \
          "Please update the method signature to match the code above. If you\n" \
          "did not intend this to be a test method, rename the method so that it\n" \
          "does not start with \"test_\"."
    end
  end
end
