# ORB::Runtime::A11y: accessibility output for the renderer.
module ORB
  class Runtime
    module A11y
      def a11y_enabled?
        @a11y_enabled
      end

      def tick_a11y
        nil
      end
    end
  end
end
