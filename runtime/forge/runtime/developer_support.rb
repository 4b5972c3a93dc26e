# ORB::Runtime::DeveloperSupport: development helpers: game-state export,
# shell commands and the runtime's own description.
module ORB
  class Runtime
    module DeveloperSupport
      def export!(with_comments = nil, file_name_override = nil)
        comments = with_comments
        file_name = file_name_override || "logs/exceptions/game_state_#{Kernel.tick_count}.txt"
        text = ""
        if comments
          comments.to_s.split("\n").each { |line| text << "# #{line}\n" }
          text << "\n"
        end
        text << "Game State:\n"
        text << __serialize_args_text__
        write_file_root("logs/exceptions/current.txt", text)
        write_file_root(file_name, text)
        file_name
      rescue Exception => e
        log_error("* ERROR:\nExporting the game state failed:\n#{e.message}\n#{comments || "(none)"}")
        nil
      end

      def __serialize_args_text__
        @args.serialize.to_s
      rescue Exception => e
        "(the game state could not be serialized: #{e.message})"
      end

      def exec(cmd)
        `#{cmd}`
      rescue Exception => e
        log_error("* ERROR: ~$orb.exec~ failed for #{cmd}: #{e.message}")
        ""
      end

      def system(cmd)
        output = exec(cmd)
        log_info(output.chomp) unless output.nil? || output.empty?
        nil
      end

      def serialize
        { argv: @argv, platform: @platform, required_files: @required_files,
          reload_list_history: @reload_list_history }
      end

      def inspect
        "#<ORB::Runtime platform: #{@platform.inspect}, load_status: #{@load_status.inspect}>"
      end

      def to_s
        inspect
      end
    end
  end
end
