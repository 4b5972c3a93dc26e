# Input recording (`$recording`): every input call that reaches the
# runtime's entry points is kept with the tick it arrived in, and written
# as a replay file when the recording stops. Replaying is not available in
# this build yet.
module ORB
  class Recording
    REPLAY_VERSION = "2.1".freeze

    attr_reader :seed_number, :input_history, :global_input_order, :replay_file_name,
                :replay_started_at, :replay_stopped_at, :replay_completed_at, :recording_stopped_at

    def initialize(runtime)
      @runtime = runtime
      @is_recording = false
      @is_replaying = false
      @input_history = []
      @global_input_order = 1
      @should_reset_after_replay_completed = true
    end

    def is_recording?
      @is_recording
    end

    def is_replaying?
      @is_replaying
    end

    def start_recording(seed_number = nil, rng_seed: nil, simulation_speed: nil)
      seed_number ||= rng_seed || 100
      if @is_replaying
        ORB::Log.info("* ERROR: A replay is running. Stop it before starting a recording.")
        return nil
      end
      @seed_number = seed_number
      @input_history = []
      @global_input_order = 1
      @is_recording = true
      @runtime.set_rng(seed_number)
      ORB::Log.info("* INFO: Recording has been started with seed #{seed_number} (#{Kernel.global_tick_count}).")
      nil
    end
    alias start start_recording

    def stop_recording(file_name = nil)
      unless @is_recording
        ORB::Log.info("* ERROR:\nNo recording is currently running. Call ~$recording.start SEED_NUMBER~ to start a recording.\n")
        return nil
      end
      unless file_name
        ORB::Log.info("* ERROR:\nPlease provide a file name to ~$recording.stop~, for example ~$recording.stop 'replay.txt'~.\n")
        return nil
      end
      @is_recording = false
      @recording_stopped_at = Kernel.global_tick_count
      text = replay_text
      @runtime.write_file(file_name, text)
      @runtime.write_file("last_replay.txt", text)
      ORB::Log.info("* INFO: Recording has been saved to #{file_name} (#{Kernel.global_tick_count}).")
      file_name
    end
    alias stop stop_recording

    def cancel
      @is_recording = false
      @input_history = []
      nil
    end

    def replay_text
      now = Object.const_defined?(:Time) ? Time.now.to_s : ""
      lines = ["replay_version #{REPLAY_VERSION}", "stopped_at #{Kernel.tick_count}",
               "seed #{@seed_number}", "recorded_at #{now}"]
      @input_history.each { |entry| lines << entry.inspect }
      lines.join("\n")
    end

    def record_input_history(name, value_1, value_2, value_count, _clear_cache = false)
      return unless @is_recording
      @input_history << [name, value_1, value_2, value_count, @global_input_order, Kernel.tick_count]
      @global_input_order += 1
    end

    def record_input_history_3_params(name, value_1, value_2, value_3, _clear_cache = false)
      return unless @is_recording
      @input_history << [name, value_1, value_2, value_3, 3, @global_input_order, Kernel.tick_count]
      @global_input_order += 1
    end

    def start_replay(file_name = nil, speed: 1)
      ORB::Log.info("* INFO: Replay of #{file_name || "replay.txt"} was requested, but replay is not available in this build.")
      nil
    end

    def stop_replay(notification_message = "Replay has been stopped.")
      unless @is_replaying
        ORB::Log.info("* ERROR:\nNo replay is currently running. Call ~$replay.start FILE_NAME, speed: 1~ to start a replay.\n")
        return nil
      end
      @is_replaying = false
      @replay_stopped_at = Kernel.global_tick_count
      nil
    end

    def tick_before(_args)
      nil
    end

    def tick_after(_args)
      nil
    end

    def replay_recently_started?
      @replay_started_at ? Kernel.global_tick_count - @replay_started_at <= 5 : false
    end

    def replay_recently_stopped?
      @replay_stopped_at ? Kernel.global_tick_count - @replay_stopped_at <= 5 : false
    end

    def replay_recently_completed?
      @replay_completed_at ? Kernel.global_tick_count - @replay_completed_at <= 5 : false
    end

    def recording_recently_completed?
      @recording_stopped_at ? Kernel.global_tick_count - @recording_stopped_at <= 5 : false
    end

    def serialize
      { is_recording: @is_recording, is_replaying: @is_replaying, seed_number: @seed_number,
        entries: @input_history.length }
    end

    def inspect
      "#<ORB::Recording #{serialize}>"
    end
  end

  class Replay
    def self.start(file_name = nil, speed: 1)
      $recording.start_replay(file_name, speed: speed)
    end

    def self.stop
      $recording.stop_replay
    end
  end
end
