# The console's input line.
module ORB
  class Console
    class Prompt
      attr_accessor :prompt, :current_input_str, :cursor_position

      def initialize
        @prompt = "-> "
        @current_input_str = ""
        @cursor_position = 0
      end

      def clear
        @current_input_str = ""
        @cursor_position = 0
      end

      def current_input_str=(text)
        @current_input_str = text.to_s
        @cursor_position = @current_input_str.length
      end
    end
  end
end
