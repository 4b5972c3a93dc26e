# ORB::ConsoleEvaluator: the context in which console commands run.
module ORB
  class ConsoleEvaluator
    @locals = {}

    class << self
      attr_reader :locals

      def args
        $args
      end

      def orb
        $orb
      end

      def state
        $state
      end

      def wizards
        $wizards
      end
    end
  end
end
