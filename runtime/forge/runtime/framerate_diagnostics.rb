# Frame-rate report for the console.
module ORB
  class Runtime
    module Framerate
      def framerate_diagnostics
        log_info("* INFO: Simulation: #{current_framerate} fps, rendering: #{current_framerate_render} fps.")
        nil
      end
    end
  end
end
