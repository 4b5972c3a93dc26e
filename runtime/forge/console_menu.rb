# The console's button menu.
module ORB
  class Console
    class Menu
      attr_accessor :shown

      def initialize(console)
        @console = console
        @shown = false
      end

      def tick(_args)
        nil
      end
    end
  end
end
