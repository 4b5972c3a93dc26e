# ORB::Runtime::SaveStateLoadState: saving game state as text in the script
# language's literal syntax and reading it back, and the nil-punning
# switches. Saving goes through FFI::File#write (a temporary file renamed
# over the old one) and refuses state that could not be read back; loading
# evaluates literals only (ORB::Codegen.eval_hash) and never runs code from
# the file.
module ORB
  class Runtime
    module SaveStateLoadState
      STATE_FILE = "game_state.txt".freeze
      LARGE_STATE_CHARACTERS = 20000
      LARGE_STATE_WARNING = "* WARNING:\n" \
                            "The serialization result of orb.serialize_state was larger than 20,000 characters. It's\n" \
                            "better to keep large states in several files, each saved and loaded on its own, for example:\n" \
                            "  $orb.serialize_state 'player.txt', args.state.player\n" \
                            "  $orb.serialize_state 'world.txt', args.state.world\n" \
                            "and later:\n" \
                            "  args.state.player = $orb.deserialize_state 'player.txt'\n" \
                            "  args.state.world = $orb.deserialize_state 'world.txt'\n".freeze
      LOADABLE_KINDS = "Hashes, Arrays, Strings, Symbols, finite numbers, true, false, nil and entities".freeze

      # serialize_state(state) answers the text; serialize_state(file, state)
      # also writes it to file.
      def serialize_state(*args)
        if args.length == 1
          file = nil
          state = args[0]
        elsif args.length == 2
          file, state = args
        else
          raise ArgumentError, "wrong number of arguments (given #{args.length}, expected 1..2)"
        end
        text, problems = __state_text__(state)
        if problems.empty?
          __write_state_file__(file, text) if file
        else
          __log_unsaveable_state__(file ? [file] : [], problems)
        end
        __check_state_size__(text)
        text
      end

      # Writes args.state to game_state_<unix time>.txt and game_state.txt;
      # writes neither when the state holds a value that could not be loaded.
      def save_state
        state = @args.state
        text, problems = __state_text__(state)
        stamped = "game_state_#{Object.const_defined?(:Time) ? Time.now.to_i : Kernel.global_tick_count}.txt"
        if problems.empty?
          __write_state_file__(stamped, text)
          __write_state_file__(STATE_FILE, text)
        else
          __log_unsaveable_state__([stamped, STATE_FILE], problems)
        end
        __check_state_size__(text)
        nil
      end

      # x is the saved text itself (starting with "{" or "[") or the name of
      # a file holding it. Answers nil when there is nothing to load.
      def deserialize_state(x)
        return nil if x.nil?
        text = x.to_s
        unless text.start_with?("{") || text.start_with?("[")
          read = begin
            @ffi_file.read(text)
          rescue Exception
            nil
          end
          if read
            text = read
          elsif text.end_with?(".txt") || text.end_with?(".dat") || text.end_with?(".rb")
            return nil
          end
        end
        return nil if text.strip.empty?
        unless ORB.const_defined?(:Codegen) && ORB::Codegen.respond_to?(:eval_hash)
          raise "* ERROR: ~$orb.deserialize_state~ needs ~ORB::Codegen.eval_hash~, which this build lacks."
        end
        begin
          data = ORB::Codegen.eval_hash(text)
        rescue Exception => e
          raise "Failed to eval: #{text}. #{e.message}.\nSerialization data may be corrupt."
        end
        result = Entity.parse_serialization_data(data)
        if data.is_a?(Hash)
          tick = data[:tick_count]
          Kernel.tick_count = tick if tick.is_a?(Integer)
        end
        result
      end

      # Replaces args.state by the saved one; without a save file the state
      # is left as it is.
      def load_state
        state = deserialize_state(STATE_FILE)
        return nil if state.nil?
        @args.state = state
        $state = state
      end

      def trace_nil_punning!
        $trace_nil_punning = true
        log_info("* INFO: trace_nil_punning! enabled\n#{caller(1, 1)[0]}\n" \
                 "Every ~OpenEntity.new~ is logged with its call stack until ~$orb.untrace_nil_punning!~ is called.")
        nil
      end

      def untrace_nil_punning!
        $trace_nil_punning = false
        nil
      end

      def disable_nil_punning!
        if @inside_tick
          raise "* ERROR: Can't call disable_nil_punning inside tick.\n" \
                "Call it once at the top of main.rb, outside of ~tick~:\n" \
                "  $orb.disable_nil_punning!\n" \
                "  def tick args\n" \
                "    ...\n" \
                "  end\n"
        end
        $nil_punning_disabled = true
        NilClassFalseClass.disarm!
        reset if Kernel.global_tick_count >= 0
        nil
      end

      def enable_nil_punning!
        if @inside_tick
          raise "* ERROR: Can't call ~enable_nil_punning~ inside tick.\n" \
                "Call it once at the top of main.rb, outside of ~tick~:\n" \
                "  $orb.enable_nil_punning!\n" \
                "  def tick args\n" \
                "    ...\n" \
                "  end\n"
        end
        $nil_punning_disabled = false
        reset if Kernel.global_tick_count >= 0
        nil
      end

      def __state_text__(state)
        root = @args && state.equal?(@args.state) ? "args.state" : "state"
        Serialize.state_text(state, root)
      end

      def __write_state_file__(file, text)
        if write_file(file, text)
          log_info("State with length of #{text.length} saved to file #{file}.")
        else
          log_warn("* WARNING: The state could not be saved to file #{file}; the previous file, if any, is unchanged.")
        end
      end

      def __log_unsaveable_state__(files, problems)
        shown = problems.length > 10 ? problems[0, 10] : problems
        lines = shown.map { |p| "  #{p}\n" }.join
        lines = "#{lines}  ... and #{problems.length - shown.length} more\n" if shown.length < problems.length
        if files.empty?
          log_warn("* WARNING: ~$orb.serialize_state~ wrote nil in place of these values, which cannot be saved as literals:\n" \
                   "#{lines}Saved state can hold #{LOADABLE_KINDS} only.\n")
        else
          log_warn("* WARNING: The state was not saved to #{files.join(' or ')}.\n" \
                   "These values cannot be saved as literals, so the file could not be loaded again:\n" \
                   "#{lines}Saved state can hold #{LOADABLE_KINDS} only (turn other objects into Hashes first).\n" \
                   "Files saved before were left as they were.\n")
        end
      end

      def __check_state_size__(text)
        return nil unless text.length > LARGE_STATE_CHARACTERS
        $serialize_state_serialization_too_large = true
        log_important(LARGE_STATE_WARNING)
      end
    end
  end
end
