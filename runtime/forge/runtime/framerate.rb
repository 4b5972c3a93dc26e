# ORB::Runtime::Framerate: the frame rates the engine reports every step.
module ORB
  class Runtime
    module Framerate
      def current_fps(simulation_fps, rendering_fps)
        @simulation_fps = simulation_fps
        @rendering_fps = rendering_fps
        nil
      end

      def current_framerate
        @simulation_fps || 0
      end

      def current_framerate_render
        @rendering_fps || 0
      end

      def current_framerate_calc
        current_framerate
      end

      def reset_framerate_calculation
        @framerate_reset_at = Kernel.global_tick_count
        nil
      end
    end
  end
end
