# ORB::Benchmark: timing of code blocks for game developers.
module ORB
  class Benchmark
    def self.measure(iterations = 1)
      iterations.times { yield }
      nil
    end
  end
end
